"""The HTTP engine through the real binary: what it sends on the wire, connection failures,
deadlines, and answers no sane app sends (badly framed, cut, slow, huge, deeply nested, badly
encoded). Every run ends with exit status 0 or 1 and a clear message: no crash, no hang."""
import os
import sys
import unittest

from harness import CLOSE, RESET, SANITIZED, SILENT, VESK, Case, Responder, http, ok, run, unused_port

CANNOT = "error: cannot connect to Tarnel — is the app running? (port {})\n"
ANSWER = b'{"answer":"hi"}'
DISMISSED = "warning: user dismissed without answering\n"
CANCELLED = "warning: compose was cancelled — no message\n"


def nested(depth):
    return b"[" * depth + b"]" * depth


class TransportTest(Case):
    def answers(self, args, rows):
        """Rows of (the app's answer, stdout, stderr, status) for one command line."""
        for reply, out, err, status in rows:
            with self.subTest(reply=reply[:80]):
                self.expect(Responder(self, reply).vesk(args), out, err, status)

    def test_request_on_the_wire(self):
        app = Responder(self, ok())
        app.vesk(["notify", "hi"])
        app.vesk(["listen"])
        posted, got = app.requests
        self.assertEqual((posted.headers["content-type"], posted.headers["content-length"], posted.headers["host"]),
                         ("application/json", str(len(posted.body)), f"127.0.0.1:{app.port}"))
        self.assertEqual((got.body, "content-type" in got.headers, "content-length" in got.headers), (b"", False, False))

    def test_nothing_listening_cannot_connect(self):
        # Never the default port: the app itself may listen there on a developer's Mac.
        port = unused_port()
        self.expect(run(["notify", "hi", "--port", str(port)]), "", CANNOT.format(port), 1)

    def test_proxy_settings_are_ignored(self):
        app = Responder(self, ok())
        proxies = dict.fromkeys(("http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"), "http://127.0.0.1:1")
        self.expect(run(["collapse", "--port", str(app.port)], env={**os.environ, **proxies}), "✓ card collapsed\n")

    def test_silence_ends_at_the_timeout(self):
        app = Responder(self, SILENT)
        for args, err in ((["notify", "hi", "--timeout", "0.0001"], "0s"), (["notify", "hi", "-t", "1e-300"], "0s"),
                          (["listen", "--timeout", "1.9"], "1s"), (["health", "--timeout", "600"], "5s")):
            with self.subTest(args=args):
                self.expect(app.vesk(args), "", f"error: request timed out after {err}\n", 1)

    def test_huge_timeouts_are_accepted_and_the_answer_ends_the_wait(self):
        app = Responder(self, ok())
        for timeout in ("inf", "1e999", "9223372036854775807"):
            self.expect(app.vesk(["collapse", "--timeout", timeout]), "✓ card collapsed\n")

    def test_answers_of_every_framing(self):
        head = b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n"
        self.answers(["ask", "q"], [
            (b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n{\"ans\r\na\r\nwer\":\"hi\"}\r\n0\r\n\r\n", "hi\n", "", 0),
            (b"HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + ANSWER, "hi\n", "", 0),
            (b"HTTP/1.0 200 OK\r\n\r\n" + ANSWER, "hi\n", "", 0),
            (b"HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n" + ok(ANSWER), "hi\n", "", 0),
            (http(200, ANSWER, ["X-Padding: " + "p" * 20000]), "hi\n", "", 0),  # headers past Beast's 8 KB
            (http(299, "odd"), "", "error: server returned 299: odd\n", 1),
            (b"HTTP/1.1 101 Switching Protocols\r\n\r\n", "", "error: server returned 101: \n", 1),
            (CLOSE, "", "error: network error: the connection was closed before an answer arrived\n", 1),
            (b"HTTP/1.1 200 OK\r\nContent-Le", "", "error: network error: partial message\n", 1),
            (head + b'{"a', "", "error: network error: partial message\n", 1),
            (b"SSH-2.0-OpenSSH_9.2\r\n", "", "error: network error: bad version\n", 1),
        ])

    def test_odd_status_lines(self):
        self.answers(["collapse", "--json"], [
            (status_line + b"\r\nContent-Length: 1\r\n\r\nx", out, err, 1 if err else 0) for status_line, out, err in (
                (b"HTTP/1.1 999 Whatever", "", "error: server returned 999: x\n"),
                (b"HTTP/1.1 200 ", "x\n", ""),  # an empty reason phrase is still a status line
                (b"HTTP/1.1 000 Zero", "", "error: no HTTP response received\n"),
                (b"HTTP/1.1 1000 Big", "", "error: network error: bad status\n"),
                (b"HTTP/1.1 abc Letters", "", "error: network error: bad status\n"),
                (b"ICY 200 OK", "", "error: network error: bad version\n"),
            )])

    def test_a_reset_is_a_network_error_not_a_signal(self):
        result = Responder(self, RESET).vesk(["notify", "hi"])
        self.assertEqual((result.status, result.out), (1, b""))
        self.assertTrue(result.err.startswith(b"error: network error: "), result.err)

    def test_answers_cut_at_every_byte_are_network_errors(self):
        full = b"HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 16\r\n\r\n" + b'{"answer":"Yes"}'
        for cut in range(len(full)):
            result = Responder(self, full[:cut]).vesk(["ask", "q"])
            self.assertEqual((result.status, result.out, result.err[:22]), (1, b"", b"error: network error: "), cut)
        self.expect(Responder(self, full).vesk(["ask", "q"]), "Yes\n")

    def test_slow_answers_end_at_the_timeout(self):
        head = b"HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n"
        for name, app in (("silent after the headers", Responder(self, head + b'{"answer":', hold=True)),
                          ("a slow drip", Responder(self, head + b" " * 100, drip=0.02)),
                          ("late headers", Responder(self, head, delay=5))):
            with self.subTest(name):
                self.expect(app.vesk(["ask", "q", "--timeout", "1.5"]), "", "error: request timed out after 1s\n", 1)

    def test_odd_encodings(self):
        nul = b"a\0b"
        for body, args, out, err in (
            (b'{"answer":"\xc3\x28"}', ["ask", "q", "--json"], "\n", ""),  # not UTF-8: no body at all
            (b'{"answer":"caf\xe9"}', ["ask", "q"], "", DISMISSED),
            (b'{"message":"\xc0\xaf"}', ["listen"], "", CANCELLED),
            (nul, ["listen", "--json"], nul + b"\n", ""),
            (b'{"message":"a\\u0000b"}', ["listen"], nul + b"\n", ""),
            (b'{"message":"' + nul + b'"}', ["listen"], "", CANCELLED),
            # A NUL after the document is trailing junk like any other, and --json prints it as it came.
            (b'{"answer":"ok"}\0 trailing', ["ask", "q"], "", DISMISSED),
            (b'{"answer":"ok"} trailing', ["ask", "q"], "", DISMISSED),
            (b'{"answer":"ok"}\0', ["ask", "q", "--json"], b'{"answer":"ok"}\0\n', ""),
            (b'{"message":"hi"}\0', ["listen"], "", CANCELLED),
            (b'{"port":1,"games":["snake"]}\0', ["health"], "● Tarnel is running on port ?\n  games: []\n", ""),
            (b'\xef\xbb\xbf{"message":"hi"}', ["listen"], "hi\n", ""),
            (b'{"message":"\\ud83d\\ude00"}', ["listen"], "😀\n", ""),
            (b'{"message":"\\ud83d"}', ["listen"], "", CANCELLED),
        ):
            with self.subTest(body=body):
                self.expect(Responder(self, ok(body)).vesk(args), out, err)


class HugeAnswersTest(Case):
    """Megabytes each: left out of the ThreadSanitizer run, where they crawl."""

    def test_deep_nesting_neither_crashes_nor_overflows(self):
        for depth in (1000, 100000, 1000000):
            for args, body, out in ((["ask", "q"], b'{"answer":' + nested(depth) + b"}", nested(depth) + b"\n"),
                                    (["characters"], nested(depth), nested(depth) + b"\n"),
                                    (["game", "snake"], b'{"result":' + nested(depth) + b"}", nested(depth) + b"\n")):
                result = Responder(self, ok(body)).vesk(args, limit=300)  # a sanitized build is slow here
                self.assertEqual((result.status, len(result.out), result.out == out), (0, len(out), True), (depth, args))

    def test_huge_answers_are_read_whole_and_held_once(self):
        size = 40 << 20
        text = b"y" * size
        # Peak memory is read by GNU time, a small launcher: a direct child of this test would
        # inherit the test's own high-water mark. Sanitizers keep memory of their own.
        measured = sys.platform.startswith("linux") and not SANITIZED and os.path.exists("/usr/bin/time")
        for args, body, out_size in ((["ask", "q"], b'{"answer":"' + text + b'"}', size + 1),
                                     (["ask", "q", "--json"], b'{"answer":"' + text + b'"}', size + 14),
                                     (["listen", "--json"], text, size + 1),
                                     (["game", "snake"], b'{"result":"' + text + b'"}', size + 1)):
            with self.subTest(args=args):
                app = Responder(self, ok(body))
                args = [*args, "--timeout", "300", "--port", str(app.port)]
                result = run(["-f", "%M", VESK, *args], program="/usr/bin/time") if measured else run(args)
                err, peak_kb = result.err.rstrip(b"\n").rpartition(b"\n")[::2] if measured else (result.err, 0)
                self.assertEqual((result.status, len(result.out), err[:200]), (0, out_size, b""))
                self.assertIn(b"y" * 1000, result.out[:1100])
                self.assertLess(int(peak_kb), 1.5 * size / 1024 + 2 * 1024)  # never a second copy


if __name__ == "__main__":
    unittest.main()
