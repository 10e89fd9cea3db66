#!/usr/bin/env python3
"""Runs a console program with keys on its standard input and checks what it printed.

keyed_run.py --keys KEYS [--expect LINE]... [--status N] [--limit SECONDS] -- COMMAND...

KEYS takes Python escapes (\\x1b is ESC). Each LINE must appear in the output
(standard output and error together, CR LF read as LF), in the given order.
The program must end within the limit with status N (default 0). Ends with 0
when all holds, 1 otherwise, naming what did not and showing the output.
"""
import argparse
import subprocess
import sys


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--keys", default="")
    parser.add_argument("--expect", action="append", default=[])
    parser.add_argument("--status", type=int, default=0)
    parser.add_argument("--limit", type=float, default=60)
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    keys = args.keys.encode("latin-1").decode("unicode_escape").encode("latin-1")
    try:
        run = subprocess.run(command, input=keys, stdout=subprocess.PIPE,
                             stderr=subprocess.STDOUT, timeout=args.limit, check=False)
    except subprocess.TimeoutExpired as expired:
        output = (expired.output or b"").decode("latin-1")
        print(f"not ended within {args.limit} s\n{output}")
        return 1
    output = run.stdout.decode("latin-1").replace("\r\n", "\n")
    failures = []
    if run.returncode != args.status:
        failures.append(f"status {run.returncode}, expected {args.status}")
    at = 0
    for line in args.expect:
        found = output.find(line, at)
        if found < 0:
            failures.append(f"missing after offset {at}: {line!r}")
            break
        at = found + len(line)
    if failures:
        print("\n".join(failures) + "\n--- output:\n" + output)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
