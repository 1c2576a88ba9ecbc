"""A loopback stand-in for the model APIs of the agent hosts, so that a real host runs offline.
Its model knows one move: the first turn of a conversation asks to run one shell command, and
any turn after a tool result ends the conversation with a short text. Claude Code asks on
POST /v1/messages (Anthropic's Messages API), Codex on POST /v1/responses (OpenAI's Responses
API); both ask for the answer streamed as server-sent events."""
import http.server
import json
import threading

FINAL_TEXT = "All done."


def sse(events):
    return b"".join(f"event: {data['type']}\ndata: {json.dumps(data)}\n\n".encode() for data in events)


def answered(conversation):
    """Whether the conversation holds the result of a tool call: a tool_result block in one of
    Anthropic's messages, or a function_call_output item of the Responses API."""
    for item in conversation or []:
        content = item.get("content")
        if item.get("type") == "function_call_output" or isinstance(content, list) and any(
                isinstance(block, dict) and block.get("type") == "tool_result" for block in content):
            return True
    return False


def messages_events(request, command, turn):
    if not answered(request.get("messages")):
        arguments = json.dumps({"command": command, "description": "Mark the run"})
        block = {"type": "tool_use", "id": f"toolu_fake_{turn}", "name": "Bash", "input": {}}
        delta, stop = {"type": "input_json_delta", "partial_json": arguments}, "tool_use"
    else:
        block = {"type": "text", "text": ""}
        delta, stop = {"type": "text_delta", "text": FINAL_TEXT}, "end_turn"
    message = {"id": f"msg_fake_{turn}", "type": "message", "role": "assistant", "content": [],
               "model": request.get("model"), "stop_reason": None, "stop_sequence": None,
               "usage": {"input_tokens": 10, "output_tokens": 1}}
    return [{"type": "message_start", "message": message},
            {"type": "content_block_start", "index": 0, "content_block": block},
            {"type": "content_block_delta", "index": 0, "delta": delta},
            {"type": "content_block_stop", "index": 0},
            {"type": "message_delta", "delta": {"stop_reason": stop, "stop_sequence": None},
             "usage": {"output_tokens": 5}},
            {"type": "message_stop"}]


def responses_events(request, command, turn):
    # Codex asks the person only for a command that leaves its sandbox.
    if not answered(request.get("input")):
        arguments = json.dumps({"cmd": command, "sandbox_permissions": "require_escalated",
                                "justification": "Mark the run"})
        item = {"type": "function_call", "id": f"fc_fake_{turn}", "call_id": f"call_fake_{turn}",
                "name": "exec_command", "arguments": arguments, "status": "completed"}
    else:
        item = {"type": "message", "id": f"msg_fake_{turn}", "role": "assistant", "status": "completed",
                "content": [{"type": "output_text", "text": FINAL_TEXT, "annotations": []}]}
    response = {"id": f"resp_fake_{turn}", "object": "response", "model": request.get("model"),
                "status": "in_progress", "output": []}
    usage = {"input_tokens": 10, "input_tokens_details": {"cached_tokens": 0}, "output_tokens": 5,
             "output_tokens_details": {"reasoning_tokens": 0}, "total_tokens": 15}
    return [{"type": "response.created", "response": response},
            {"type": "response.output_item.added", "output_index": 0, "item": item},
            {"type": "response.output_item.done", "output_index": 0, "item": item},
            {"type": "response.completed",
             "response": dict(response, status="completed", output=[item], usage=usage)}]


class FakeModel:
    """Serves on a free loopback port until stop(); `requests` holds the bodies received."""

    def __init__(self, command):
        self.requests = []
        model = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_POST(self):
                request = json.loads(self.rfile.read(int(self.headers.get("Content-Length") or 0)))
                model.requests.append(request)
                path, turn = self.path.split("?")[0], len(model.requests)
                events = {"/v1/messages": messages_events, "/v1/responses": responses_events}.get(path)
                body = sse(events(request, command, turn)) if events else b"{}"
                self.send_response(200 if events else 404)
                self.send_header("Content-Type", "text/event-stream" if events else "application/json")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

        class Server(http.server.ThreadingHTTPServer):
            daemon_threads = True

            def handle_error(self, request, address):
                pass  # a host that hangs up on a spare connection is no fault of the model

        self._server = Server(("127.0.0.1", 0), Handler)
        self.port = self._server.server_address[1]
        threading.Thread(target=self._server.serve_forever, daemon=True).start()

    def stop(self):
        self._server.shutdown()
        self._server.server_close()
