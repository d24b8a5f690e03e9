#!/usr/bin/python3
"""Publishes a run of make bench: copies its table.md, results.csv, times.png and run.json from the
build tree into the tracked folder bench/results, which then holds that run alone.

Only a complete full run whose every check passed is published, and by default only one measured
on a tree without uncommitted changes, so that the commit it names is the code it measured
(--allow-dirty publishes one anyway; its table and run.json say so). The files are copied, not
committed: commit them yourself, e.g. "Bench: results of a full run at <commit>".

    /usr/bin/python3 bench/publish.py [--run build/bench/results/full] [--allow-dirty]
"""

import argparse
import json
import os
import shutil
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
FILES = ("table.md", "results.csv", "times.png", "run.json")
TARGET = os.path.join(HERE, "results")
# Where earlier versions of the bench kept their results; a publication replaces them too.
LEGACY = (os.path.join(HERE, "peers", "results"),)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--run", default=os.path.join(ROOT, "build", "bench", "results", "full"),
                        help="the folder of the run (default: build/bench/results/full)")
    parser.add_argument("--allow-dirty", action="store_true",
                        help="publish a run measured with uncommitted changes")
    options = parser.parse_args()

    try:
        with open(os.path.join(options.run, "run.json")) as f:
            meta = json.load(f)
    except OSError as error:
        sys.exit(f"no run to publish in {options.run} ({error.strerror}); run `make bench` first")
    problems = []
    if meta["mode"] != "full":
        problems.append(f"it is a {meta['mode']} run, not a full one")
    if meta.get("only") or meta.get("skip"):
        problems.append("it left problems or sides out (--only or --skip)")
    if meta["failures"]:
        problems.append(f"{len(meta['failures'])} answers failed their checks")
    source = meta["source"]
    if source["dirty"] and not options.allow_dirty:
        problems.append("it was measured with uncommitted changes (" +
                        ", ".join(source["changed"][:5]) + "); commit and run again, or pass "
                        "--allow-dirty")
    missing = [name for name in FILES if not os.path.exists(os.path.join(options.run, name))]
    if missing:
        problems.append("it lacks " + ", ".join(missing))
    if problems:
        sys.exit(f"not published: {'; '.join(problems)}")

    os.makedirs(TARGET, exist_ok=True)
    for name in os.listdir(TARGET):
        if name not in FILES:
            os.remove(os.path.join(TARGET, name))
    for name in FILES:
        shutil.copyfile(os.path.join(options.run, name), os.path.join(TARGET, name))
    for folder in LEGACY:
        shutil.rmtree(folder, ignore_errors=True)
        try:
            os.rmdir(os.path.dirname(folder))  # the folder that held it, once empty
        except OSError:
            pass
    state = source["commit"][:10] + (" (with uncommitted changes)" if source["dirty"] else "")
    print(f"published the full run of {meta['date']} at commit {state} into "
          f"{os.path.relpath(TARGET, ROOT)}; commit it, e.g. "
          f"\"Bench: results of a full run at {source['commit'][:7]}\"")
    return 0


if __name__ == "__main__":
    sys.exit(main())
