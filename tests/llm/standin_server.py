"""A stand-in local model server: GET /v1/models and POST /v1/chat/completions with
scripted answers. Each chat request takes the next behaviour of --chat (the last one
repeats): echo (answers "echo: " + the user message), context (llama.cpp's
exceed_context_size_error), error (HTTP 500), close (drops the connection unanswered).
Chat request bodies are appended one a line to --record. Prints "ready" once it listens."""
import argparse
import http.server
import json
import socket
import struct
import sys
import threading

CONTEXT_ERROR = {"error": {"code": 400, "type": "exceed_context_size_error", "n_prompt_tokens": 9000,
                           "n_ctx": 4096,
                           "message": "the request exceeds the available context size, try increasing it"}}
MODEL_ERROR = {"error": {"code": 500, "type": "server_error", "message": "model failed: out of memory"}}
LOADING = {"error": {"code": 503, "type": "unavailable_error", "message": "Loading model"}}


class Handler(http.server.BaseHTTPRequestHandler):
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
        opts = self.server.opts
        if self.path != "/v1/models" or opts.not_found:
            self.answer(404, {"error": {"code": 404, "message": "File Not Found", "type": "not_found_error"}})
        elif opts.loading:
            self.answer(503, LOADING)
        else:
            models = opts.models.split(",")
            self.answer(200, {"object": "list", "data": [{"id": m, "object": "model"} for m in models]})

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        if self.path != "/v1/chat/completions":
            self.answer(404, {"error": {"code": 404, "message": "File Not Found"}})
            return
        server = self.server
        with server.lock:
            behaviours = server.opts.chat.split(",")
            behaviour = behaviours[min(server.requests, len(behaviours) - 1)]
            server.requests += 1
            if server.opts.record:
                with open(server.opts.record, "ab") as record:
                    record.write(body.replace(b"\n", b" ") + b"\n")
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
            user = [m["content"] for m in json.loads(body)["messages"] if m["role"] == "user"]
            self.answer(200, {"object": "chat.completion", "choices": [
                {"index": 0, "finish_reason": "stop",
                 "message": {"role": "assistant", "content": "echo: " + "".join(user)}}]})


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--models", default="standin-model")
    parser.add_argument("--loading", action="store_true")
    parser.add_argument("--not-found", action="store_true")
    parser.add_argument("--chat", default="echo")
    parser.add_argument("--record")
    opts = parser.parse_args()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", opts.port), Handler)
    server.opts, server.lock, server.requests = opts, threading.Lock(), 0
    print("ready", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    sys.exit(main())
