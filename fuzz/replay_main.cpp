// Runs the fuzz target's checks over saved inputs without libFuzzer, so that the seed corpus (and
// any input that once failed) is checked by every build, with any compiler. Arguments are files
// or directories of files; a check that fails aborts, and the input being run is named then.
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

char currentInput[4096] = "";

void nameInputOnAbort(int) {
    // Only async-signal-safe calls here; the default action (the abort) follows.
    const char prefix[] = "\nfailing input: ";
    (void)!write(2, prefix, sizeof prefix - 1);
    (void)!write(2, currentInput, std::strlen(currentInput));
    (void)!write(2, "\n", 1);
    std::signal(SIGABRT, SIG_DFL);
    std::raise(SIGABRT);
}

void runFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        std::exit(2);
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)),
                                  std::istreambuf_iterator<char>());
    std::snprintf(currentInput, sizeof currentInput, "%s", path.c_str());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
    std::signal(SIGABRT, nameInputOnAbort);
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            std::vector<std::filesystem::path> files;
            for (const auto& entry : std::filesystem::directory_iterator(path))
                if (entry.is_regular_file()) files.push_back(entry.path());
            std::sort(files.begin(), files.end());
            for (const auto& file : files) runFile(file);
            count += files.size();
        } else {
            runFile(path);
            ++count;
        }
    }
    // An empty run would pass without checking anything.
    if (count == 0) {
        std::fputs("no inputs found\n", stderr);
        return 1;
    }
    std::printf("%zu inputs checked\n", count);
    return 0;
}
