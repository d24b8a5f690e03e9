// The stand-in host's libmex part: the error calls. They end the call by throwing pairsolve::Error,
// which unwinds through the solver to whoever opened the call (standin::CallScope releases what
// the call still holds). Kept apart from the libmx part so that on Windows each half can be built
// into its own DLL, as a host ships them.
#include <cstdarg>
#include <cstdio>

#include "standin_host.h"

PAIRSOLVE_HOST_NAMES_BEGIN

void mexErrMsgTxt(const char* message) { throw pairsolve::Error("", message); }

void mexErrMsgIdAndTxt(const char* identifier, const char* format, ...) {
    char text[1024];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    throw pairsolve::Error(identifier, text);
}

PAIRSOLVE_HOST_NAMES_END
