"""tevoli-apple-llm against stand-in model servers on the real discovery addresses;
the test module runs in a network namespace of its own (in_own_netns)."""
import json
import os
import subprocess
import sys

from tevoli_harness import binary, spawn, stop

HERE = os.path.dirname(os.path.abspath(__file__))


def require_own_netns():
    """Refuses to run where the fixed ports could belong to a real server."""
    with open("/proc/net/dev") as devices:
        names = [line.split(":")[0].strip() for line in devices.readlines()[2:]]
    if names != ["lo"]:
        raise RuntimeError("run these tests through tests/llm/in_own_netns (found interfaces %s)" % names)


class StandIn:
    """A stand-in model server on 127.0.0.1:`port`."""

    def __init__(self, port, *options):
        self.port, self.options = port, options

    def __enter__(self):
        self.proc = spawn([sys.executable, os.path.join(HERE, "standin_server.py"), "--port", str(self.port),
                           *self.options], stdout=subprocess.PIPE)
        if self.proc.stdout.readline() != b"ready\n":
            self.__exit__()
            raise RuntimeError("stand-in server on port %d did not start" % self.port)
        return self

    def __exit__(self, *exc):
        stop(self.proc)
        self.proc.stdout.close()


class Helper:
    """The helper as the host runs it: requests in, one reply line each."""

    def __init__(self, program=None):
        self.program = program or binary("tevoli-apple-llm")

    def __enter__(self):
        self.proc = spawn([self.program], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        return self

    def ask(self, request):
        self.proc.stdin.write(json.dumps(request).encode() + b"\n")
        self.proc.stdin.flush()
        return self.proc.stdout.readline()

    def finish(self):
        """Closes the input; returns (rest of standard output, standard error, exit status)."""
        out, err = self.proc.communicate(timeout=60)
        return out, err, self.proc.returncode

    def __exit__(self, *exc):
        stop(self.proc)
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            stream.close()
