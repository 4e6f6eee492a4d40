#!/usr/bin/env python3
"""Runs `datapack verify` over the hostile corpus that hostile_gen wrote and checks, for every
case of its manifest, the exit status and the bootstrapper message verify prints.

    verify_corpus.py DATAPACK CORPUS_DIR

A refused package must exit with 2 and print exactly the message setup.exe shows (verify
writes the working folder, which only setup.exe knows, as %TEMP%\\). An accepted package, and
one that only a small disk refuses, must exit with 0. Exits 1 when any case differs.
"""
import os
import subprocess
import sys
import time


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    datapack, corpus = sys.argv[1], sys.argv[2]
    with open(os.path.join(corpus, "manifest.tsv"), encoding="utf-8") as f:
        rows = [line.rstrip("\n").split("\t") for line in f if line.strip()]
    failures = []
    counts = {}
    start = time.monotonic()
    for name, verdict, verify_exit, message, _left, _uninstaller in rows:
        counts[verdict] = counts.get(verdict, 0) + 1
        package = os.path.join(corpus, name + ".001")
        run = subprocess.run([datapack, "verify", package], capture_output=True, text=True,
                             errors="replace", timeout=120)
        problems = []
        if run.returncode != int(verify_exit):
            problems.append(f"exit {run.returncode}, expected {verify_exit}")
        if verify_exit == "2":
            expected = message.replace("%TEMP%", "%TEMP%\\")
            lines = run.stdout.splitlines()
            if lines != [expected]:
                problems.append(f"printed {lines!r}, expected [{expected!r}]")
        elif "good" not in run.stdout:
            problems.append(f"printed {run.stdout!r}, expected a good package")
        if problems:
            failures.append(f"{name} ({verdict}): " + "; ".join(problems) +
                            f"\n    stderr: {run.stderr.strip()}")
    took = time.monotonic() - start
    summary = ", ".join(f"{n} {v}" for v, n in sorted(counts.items()))
    print(f"hostile corpus: {len(rows)} cases ({summary}) verified in {took:.1f} s")
    for failure in failures:
        print("FAIL " + failure)
    sys.exit(1 if failures or not rows else 0)


if __name__ == "__main__":
    main()
