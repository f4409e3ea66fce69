"""Runs one command inside a private headless session (PulseAudio and Xvfb).

    python3 tests/harness/session.py [--no-pulse] [--no-x] -- command [args...]
"""
import argparse
import subprocess
import sys

import tevoli_harness


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--no-pulse", action="store_true")
    parser.add_argument("--no-x", action="store_true")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        parser.error("no command")
    with tevoli_harness.session(pulse=not args.no_pulse, x=not args.no_x) as env:
        return subprocess.run(command, env=env).returncode


if __name__ == "__main__":
    sys.exit(main())
