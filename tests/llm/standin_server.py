"""A stand-in local model server: GET /v1/models lists --models, and each POST
/v1/chat/completions takes the next behaviour of --chat (the last one repeats): echo
(answers with the request's body), context (llama.cpp's exceed_context_size_error),
error (HTTP 500), close (drops the connection unanswered). Prints "ready" once it
listens."""
import argparse
import http.server
import itertools
import json
import socket
import struct
import threading

CONTEXT_ERROR = {"error": {"code": 400, "type": "exceed_context_size_error", "n_prompt_tokens": 9000,
                           "n_ctx": 4096,
                           "message": "the request exceeds the available context size, try increasing it"}}
MODEL_ERROR = {"error": {"code": 500, "type": "server_error", "message": "model failed: out of memory"}}


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
        if self.path != "/v1/models":
            return self.answer(404, {"error": {"code": 404, "message": "File Not Found"}})
        self.answer(200, {"object": "list", "data": [{"id": m, "object": "model"} for m in opts.models.split(",")]})

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        if self.path != "/v1/chat/completions":
            return self.answer(404, {"error": {"code": 404, "message": "File Not Found"}})
        with lock:
            behaviour = behaviours[min(next(requests), len(behaviours) - 1)]
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


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--models", default="standin-model")
    parser.add_argument("--chat", default="echo")
    opts = parser.parse_args()
    behaviours, requests, lock = opts.chat.split(","), itertools.count(), threading.Lock()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", opts.port), Handler)
    print("ready", flush=True)
    server.serve_forever()
