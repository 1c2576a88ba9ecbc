"""A loopback stand-in for the model APIs of the agent hosts, so that a real host runs offline.
Its model knows one move: the first turn of a conversation asks to run one shell command, and
any turn after a tool result ends the conversation with a short text. Claude Code asks on
POST /v1/messages (Anthropic's Messages API, streamed as server-sent events when the request
says "stream"), Codex on POST /v1/responses (OpenAI's Responses API, always streamed).

Run by itself: python3 fake_model.py --command 'touch /tmp/x/ran' --port-file F [--record R]"""
import argparse
import http.server
import json
import os
import threading

FINAL_TEXT = "All done."


def sse(events):
    return b"".join(f"event: {kind}\ndata: {json.dumps(data)}\n\n".encode() for kind, data in events)


def has_tool_result(messages):
    """Whether the conversation already holds the answer to a tool call: Anthropic's tool_result
    blocks in a user message, or the Responses API's function_call_output items."""
    for message in messages or []:
        if message.get("type") in ("function_call_output", "custom_tool_call_output"):
            return True
        content = message.get("content")
        if isinstance(content, list) and any(
                isinstance(block, dict) and block.get("type") == "tool_result" for block in content):
            return True
    return False


def anthropic_events(request, command, turn):
    tools = {tool.get("name") for tool in request.get("tools") or []}
    usage = {"input_tokens": 10, "output_tokens": 1, "cache_read_input_tokens": 0,
             "cache_creation_input_tokens": 0}
    message = {"id": f"msg_fake_{turn}", "type": "message", "role": "assistant",
               "model": request.get("model", "fake"), "content": [], "stop_reason": None,
               "stop_sequence": None, "usage": usage}
    events = [("message_start", {"type": "message_start", "message": message})]
    if "Bash" in tools and not has_tool_result(request.get("messages")):
        arguments = json.dumps({"command": command, "description": "Mark the run"})
        block = {"type": "tool_use", "id": f"toolu_fake_{turn}", "name": "Bash", "input": {}}
        delta = {"type": "input_json_delta", "partial_json": arguments}
        stop = "tool_use"
    else:
        block = {"type": "text", "text": ""}
        delta = {"type": "text_delta", "text": FINAL_TEXT}
        stop = "end_turn"
    events += [("content_block_start", {"type": "content_block_start", "index": 0, "content_block": block}),
               ("content_block_delta", {"type": "content_block_delta", "index": 0, "delta": delta}),
               ("content_block_stop", {"type": "content_block_stop", "index": 0}),
               ("message_delta", {"type": "message_delta", "usage": {"output_tokens": 5},
                                  "delta": {"stop_reason": stop, "stop_sequence": None}}),
               ("message_stop", {"type": "message_stop"})]
    return events


def anthropic_message(events):
    """The same answer as one JSON message, for a request that did not ask for a stream."""
    message = dict(events[0][1]["message"])
    block = dict(events[1][1]["content_block"])
    delta = events[2][1]["delta"]
    if block["type"] == "tool_use":
        block["input"] = json.loads(delta["partial_json"])
    else:
        block["text"] = delta["text"]
    message.update(content=[block], stop_reason=events[4][1]["delta"]["stop_reason"])
    return message


def responses_events(request, command, turn):
    tools = {tool.get("name") for tool in request.get("tools") or []}
    response = {"id": f"resp_fake_{turn}", "object": "response", "status": "in_progress",
                "model": request.get("model", "fake"), "output": []}
    if "exec_command" in tools and not has_tool_result(request.get("input")):
        arguments = json.dumps({"cmd": command, "sandbox_permissions": "require_escalated",
                                "justification": "Mark the run"})
        item = {"type": "function_call", "id": f"fc_fake_{turn}", "call_id": f"call_fake_{turn}",
                "name": "exec_command", "arguments": arguments, "status": "completed"}
    else:
        item = {"type": "message", "id": f"msg_fake_{turn}", "role": "assistant", "status": "completed",
                "content": [{"type": "output_text", "text": FINAL_TEXT, "annotations": []}]}
    done = dict(response, status="completed", output=[item],
                usage={"input_tokens": 10, "input_tokens_details": {"cached_tokens": 0},
                       "output_tokens": 5, "output_tokens_details": {"reasoning_tokens": 0},
                       "total_tokens": 15})
    return [("response.created", {"type": "response.created", "response": response}),
            ("response.output_item.added", {"type": "response.output_item.added", "output_index": 0, "item": item}),
            ("response.output_item.done", {"type": "response.output_item.done", "output_index": 0, "item": item}),
            ("response.completed", {"type": "response.completed", "response": done})]


class FakeModel:
    """Serves on a free loopback port until stop(); `requests` lists (path, body) as received."""

    def __init__(self, command, record=None):
        self.command, self.requests, self._record = command, [], record
        self._lock = threading.Lock()
        model = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def log_message(self, *args):
                pass

            def do_GET(self):
                model._note(self.command, self.path, None)
                self._answer(404, b"{}", "application/json")

            do_HEAD = do_GET

            def do_POST(self):
                body = self.rfile.read(int(self.headers.get("Content-Length") or 0))
                try:
                    request = json.loads(body)
                except ValueError:
                    request = {}
                turn = model._note("POST", self.path, request)
                path = self.path.split("?")[0]
                if path.endswith("/messages/count_tokens"):
                    self._answer(200, b'{"input_tokens": 10}', "application/json")
                elif path.endswith("/messages"):
                    events = anthropic_events(request, model.command, turn)
                    if request.get("stream"):
                        self._answer(200, sse(events), "text/event-stream")
                    else:
                        self._answer(200, json.dumps(anthropic_message(events)).encode(), "application/json")
                elif path.endswith("/responses"):
                    self._answer(200, sse(responses_events(request, model.command, turn)), "text/event-stream")
                else:
                    self._answer(404, b"{}", "application/json")

            def _answer(self, status, body, kind):
                self.send_response(status)
                self.send_header("Content-Type", kind)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                if self.command != "HEAD":
                    self.wfile.write(body)

        self._server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self._server.daemon_threads = True
        self.port = self._server.server_address[1]
        self._thread = threading.Thread(target=self._server.serve_forever, daemon=True)
        self._thread.start()

    def _note(self, method, path, body):
        with self._lock:
            self.requests.append((method, path, body))
            if self._record:
                with open(self._record, "a") as record:
                    record.write(json.dumps({"method": method, "path": path, "body": body}) + "\n")
            return len(self.requests)

    def stop(self):
        self._server.shutdown()
        self._server.server_close()


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--command", required=True)
    parser.add_argument("--port-file", required=True)
    parser.add_argument("--record")
    options = parser.parse_args()
    fake = FakeModel(options.command, options.record)
    with open(options.port_file + ".tmp", "w") as port_file:
        port_file.write(f"{fake.port}\n")
    os.replace(options.port_file + ".tmp", options.port_file)
    try:
        threading.Event().wait()
    except KeyboardInterrupt:
        fake.stop()
