"""tevoli-apple-llm as the host drives it, against a stand-in model server on the discovery
ports, in a network namespace of its own (in_own_netns)."""
import contextlib
import http.server
import json
import subprocess
import threading
import unittest

from tevoli_harness import binary, spawn


class StandIn(http.server.BaseHTTPRequestHandler):
    """A model server listing one model; it answers a chat with the request's body, or
    with a context overflow when the request mentions the context."""

    def log_message(self, *args):
        pass

    def answer(self, status, body):
        self.send_response(status)
        self.end_headers()
        self.wfile.write(json.dumps(body).encode())

    def do_GET(self):
        self.answer(200, {"data": [{"id": "standin"}]})

    def do_POST(self):
        body = self.rfile.read(int(self.headers["Content-Length"]))
        if self.path != "/v1/chat/completions":
            self.answer(404, {})
        elif b"context" in body:
            self.answer(400, {"error": {"code": 400, "type": "exceed_context_size_error",
                                        "message": "the request exceeds the available context size"}})
        else:
            self.answer(200, {"choices": [{"message": {"content": body.decode()}}]})


@contextlib.contextmanager
def stand_in(port):
    with http.server.ThreadingHTTPServer(("127.0.0.1", port), StandIn) as server:
        threading.Thread(target=server.serve_forever, daemon=True).start()
        yield
        server.shutdown()


def helper():
    """The program as the host runs it; leaving its context closes its input, which ends it."""
    return spawn([binary("tevoli-apple-llm")], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                 stderr=subprocess.PIPE)


def ask(program, request):
    program.stdin.write(json.dumps(request).encode() + b"\n")
    program.stdin.flush()
    return program.stdout.readline()


class AsTheHostDrivesIt(unittest.TestCase):
    def test_status_and_prompts_follow_the_server(self):
        with open("/proc/net/dev") as devices:  # elsewhere the fixed ports may be a real server's
            interfaces = [d.split(":")[0].strip() for d in devices.readlines()[2:]]
        self.assertEqual(interfaces, ["lo"], "run through in_own_netns")
        with helper() as llm:
            # Nothing listens: noticed from the refused connections, not by waiting.
            turn_on = b'{"ok":true,"available":false,"reason":"Turn on Apple Intelligence'
            self.assertTrue(ask(llm, {"op": "status"}).startswith(turn_on))
            # The last well-known address, past two that refuse.
            with stand_in(1234):
                self.assertEqual(ask(llm, {"op": "status"}), b'{"ok":true,"available":true}\n')
                user = "a/b \u00e9\U0001f600" + " word" * 200000  # a long transcript
                reply = json.loads(ask(llm, {"op": "generate", "system": "Be brief.", "user": user}))
                # The stand-in answers with the request it got.
                self.assertEqual(json.loads(reply["content"]), {"model": "standin", "messages": [
                    {"role": "system", "content": "Be brief."}, {"role": "user", "content": user}]})
                self.assertEqual(ask(llm, {"op": "generate", "user": "beyond the context"}), b'{"ok":false,'
                                 b'"error":"context window exceeded","code":"context_exceeded"}\n')
                self.assertEqual(llm.communicate(timeout=60), (b"", b""))
        self.assertEqual(llm.returncode, 0)


if __name__ == "__main__":
    unittest.main()
