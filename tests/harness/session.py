"""Runs one command inside a private headless session (PulseAudio and Xvfb).

    python3 tests/harness/session.py -- command [args...]
"""
import subprocess
import sys

import tevoli_harness

if __name__ == "__main__":
    command = sys.argv[2:] if sys.argv[1:2] == ["--"] else sys.argv[1:]
    if not command:
        sys.exit("usage: session.py -- command [args...]")
    with tevoli_harness.session() as env:
        sys.exit(subprocess.run(command, env=env).returncode)
