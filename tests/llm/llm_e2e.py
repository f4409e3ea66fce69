"""tevoli-apple-llm against stand-in model servers on the real discovery addresses;
the test module runs in a network namespace of its own (in_own_netns)."""
import json
import os
import subprocess
import sys
import tempfile

from tevoli_harness import binary, spawn, stop

HERE = os.path.dirname(os.path.abspath(__file__))

TURN_ON = ("Turn on Apple Intelligence: System Settings \u2192 Apple Intelligence & Siri, then switch it on. "
           "A multi-GB on-device model downloads afterward.")


def require_own_netns():
    """Refuses to run where the fixed ports could belong to a real server."""
    with open("/proc/net/dev") as devices:
        names = [line.split(":")[0].strip() for line in devices.readlines()[2:]]
    if names != ["lo"]:
        raise RuntimeError("run these tests through tests/llm/in_own_netns (found interfaces %s)" % names)


def reply_line(obj):
    """The exact bytes the helper writes for a reply."""
    return json.dumps(obj, ensure_ascii=False, separators=(",", ":")).replace("/", "\\/").encode() + b"\n"


class StandIn:
    """A stand-in model server on 127.0.0.1:`port`; `bodies()` are the chat requests it got."""

    def __init__(self, port, *options):
        self.port, self.options = port, options

    def __enter__(self):
        self.dir = tempfile.TemporaryDirectory(prefix="tevoli-llm-")
        self.record = os.path.join(self.dir.name, "requests")
        self.proc = spawn([sys.executable, os.path.join(HERE, "standin_server.py"), "--port", str(self.port),
                           "--record", self.record, *self.options], stdout=subprocess.PIPE)
        if self.proc.stdout.readline() != b"ready\n":
            self.__exit__()
            raise RuntimeError("stand-in server on port %d did not start" % self.port)
        return self

    def __exit__(self, *exc):
        stop(self.proc)
        self.proc.stdout.close()
        self.dir.cleanup()

    def bodies(self):
        if not os.path.exists(self.record):
            return []
        with open(self.record, "rb") as record:
            return [json.loads(line) for line in record]


class Helper:
    """The helper as the host runs it: requests in, one reply line each."""

    def __enter__(self):
        self.proc = spawn([binary("tevoli-apple-llm")], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE)
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
