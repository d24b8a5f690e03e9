#!/usr/bin/env python3
"""Runs valgrind_calls.m in Octave under valgrind memcheck and fails on any error or leak that the
module has a hand in.

Octave itself leaks a little and valgrind reports it; those reports are not ours. A report counts
against the module when its stack (where the bad access happened, or where leaked memory was
allocated) passes through the module file. The run must also reach the script's last line, so a
crash or an early error cannot pass as a clean run.
"""
import argparse
import collections
import os
import subprocess
import sys
import xml.etree.ElementTree as ET

DONE_MARKER = "valgrind calls: all made"


def frames_of(error):
    stack = error.find("stack")
    return [] if stack is None else stack.findall("frame")


def describe(frame):
    parts = [frame.findtext(tag) for tag in ("fn", "file", "line")]
    obj = frame.findtext("obj") or "?"
    where = ":".join(p for p in parts[1:] if p)
    return "%s (%s)" % (parts[0] or "??", where or os.path.basename(obj))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--valgrind", required=True)
    parser.add_argument("--octave", required=True)
    parser.add_argument("--module", required=True, help="path of pairsolve.mex")
    parser.add_argument("--script", required=True)
    parser.add_argument("--work-dir", required=True)
    args = parser.parse_args()

    os.makedirs(args.work_dir, exist_ok=True)
    xml_file = os.path.join(args.work_dir, "memcheck.xml")
    module_name = os.path.basename(args.module)
    command = [
        args.valgrind, "--tool=memcheck", "--leak-check=full",
        "--show-leak-kinds=definite,indirect,possible",
        "--errors-for-leak-kinds=definite,indirect,possible", "--num-callers=50",
        # Octave unloads the module before it exits; the stacks of leaks found then still need
        # its symbols.
        "--keep-debuginfo=yes",
        "--xml=yes", "--xml-file=" + xml_file,
        args.octave, "--no-gui", "--norc", "--quiet", "--no-history",
        "--path", os.path.dirname(os.path.abspath(args.module)), args.script,
    ]
    run = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    sys.stdout.write(run.stdout)
    if run.returncode != 0 or DONE_MARKER not in run.stdout:
        print("valgrind run did not complete the calls (exit %d)" % run.returncode)
        return 1

    root = ET.parse(xml_file).getroot()
    errors = root.findall("error")
    ours = collections.Counter()
    for error in errors:
        frames = frames_of(error)
        if not any(os.path.basename(f.findtext("obj") or "") == module_name for f in frames):
            continue
        kind = error.findtext("kind")
        ours[kind] += 1
        what = error.findtext("what") or error.findtext("xwhat/text") or ""
        print("%s: %s" % (kind, what))
        for frame in frames[:12]:
            print("    " + describe(frame))

    print("memcheck: %d reports in all, %d with the module on the stack" %
          (len(errors), sum(ours.values())))
    return 1 if ours else 0


if __name__ == "__main__":
    sys.exit(main())
