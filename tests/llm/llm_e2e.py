"""tevoli-apple-llm as the host runs it, and a stand-in model server on the discovery
ports, in a network namespace of its own (in_own_netns)."""
import http.server
import itertools
import json
import socket
import struct
import subprocess
import threading

from tevoli_harness import binary, spawn, stop

CONTEXT_ERROR = {"error": {"code": 400, "type": "exceed_context_size_error", "n_prompt_tokens": 9000,
                           "n_ctx": 4096,
                           "message": "the request exceeds the available context size, try increasing it"}}
MODEL_ERROR = {"error": {"code": 500, "type": "server_error", "message": "model failed: out of memory"}}


def require_own_netns():
    """Refuses to run where the fixed ports could belong to a real server."""
    with open("/proc/net/dev") as devices:
        names = [line.split(":")[0].strip() for line in devices.readlines()[2:]]
    if names != ["lo"]:
        raise RuntimeError("run these tests through tests/llm/in_own_netns (found interfaces %s)" % names)


class StandIn(http.server.ThreadingHTTPServer):
    """A model server on 127.0.0.1:`port` listing `models`; each chat takes the next of
    `chat` (the last repeats): echo (the request's body), context, error, close."""

    def __init__(self, port, models="standin-model", chat="echo"):
        super().__init__(("127.0.0.1", port), StandInHandler)
        self.models, self.chat = models.split(","), chat.split(",")
        self.requests, self.lock = itertools.count(), threading.Lock()

    def __enter__(self):
        threading.Thread(target=self.serve_forever, daemon=True).start()
        return self

    def __exit__(self, *exc):
        self.shutdown()
        self.server_close()


class StandInHandler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def answer(self, status, body):
        data = json.dumps(body).encode()
        self.send_response(status)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        if self.path != "/v1/models":
            return self.answer(404, {"error": {"code": 404, "message": "File Not Found"}})
        self.answer(200, {"object": "list", "data": [{"id": m, "object": "model"} for m in self.server.models]})

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        if self.path != "/v1/chat/completions":
            return self.answer(404, {"error": {"code": 404, "message": "File Not Found"}})
        with self.server.lock:
            behaviour = self.server.chat[min(next(self.server.requests), len(self.server.chat) - 1)]
        if behaviour == "context":
            self.answer(400, CONTEXT_ERROR)
        elif behaviour == "error":
            self.answer(500, MODEL_ERROR)
        elif behaviour == "close":
            # Reset instead of answering, as a server that crashes mid-request would.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.close_connection = True
            self.connection.close()
        else:
            self.answer(200, {"object": "chat.completion", "choices": [
                {"index": 0, "finish_reason": "stop", "message": {"role": "assistant", "content": body.decode()}}]})


class Helper:

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
        """(rest of standard output, standard error, status) once the input is closed."""
        out, err = self.proc.communicate(timeout=60)
        return out, err, self.proc.returncode

    def __exit__(self, *exc):
        stop(self.proc)
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            stream.close()
