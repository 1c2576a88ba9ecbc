"""tarnel-sim through its binary: how it judges what it receives, its scripts, forced answers and
delays, the record, its options and how it stops, the person at its terminal, and every vesk
command against it."""
import json
import os
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time
import unittest

from harness import SANITIZED, SIM, VESK, Case, Sim, crowd_size, run

DISMISSED = "warning: user dismissed without answering\n"
CANCELLED = "warning: compose was cancelled — no message\n"


def error(text):
    return json.dumps({"error": text}, separators=(",", ":"), ensure_ascii=False)


def exchange(port, data):
    """Sends raw bytes and reads the answer to its end: (status, headers, body text)."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as s:
        s.sendall(data)
        answer = b""
        while chunk := s.recv(65536):
            answer += chunk
    head, _, body = answer.partition(b"\r\n\r\n")
    line, *fields = head.decode().split("\r\n")
    headers = {k.lower(): v.strip() for k, v in (f.split(":", 1) for f in fields)}
    return int(line.split()[1]), headers, body.decode()


def request(port, method, target, body=None):
    extra = "" if body is None else f"Content-Type: application/json\r\nContent-Length: {len(body.encode())}\r\n"
    return exchange(port, f"{method} {target} HTTP/1.1\r\nHost: x\r\n{extra}\r\n{body or ''}".encode())


def short_lines(extra):
    """GET /health with a header block, request line to blank line, of 64 KiB and `extra` bytes,
    nearly all in lines of 8 bytes."""
    return b"GET /health HTTP/1.1\r\n" + b"X-A: b\r\n" * 8188 + b"X-A: " + b"b" * (1 + extra) + b"\r\n\r\n"


def nested(levels):
    """A card `levels` deep: the object is level 1, each array inside it one more."""
    return '{"message":"x","a":' + "[" * (levels - 1) + "]" * (levels - 1) + "}"


def in_background(work):
    """Runs `work` on a thread; the returned function waits for it and gives its result."""
    result = []
    thread = threading.Thread(target=lambda: result.append(work()))
    thread.start()
    return lambda: thread.join() or result[0]


class SimTest(Case):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="tarnel-sim-test-")
        self.addCleanup(shutil.rmtree, self.home, ignore_errors=True)

    def read(self, name):
        with open(self.file(name)) as f:
            return f.read()

    def file(self, name, content=None):
        """A path in this test's own folder, written with `content` as JSON when given."""
        path = os.path.join(self.home, name)
        if content is not None:
            with open(path, "w") as f:
                json.dump(content, f)
        return path

    def runs(self, sim, rows):
        for args, out, err, status in rows:
            with self.subTest(args=args):
                self.expect(sim.vesk(args), out, err, status)

    def test_it_answers_what_it_receives_as_the_app_would(self):
        answered, list_of_texts = '{"status":"ok"}', error('"proposed_answers" must be a list of texts')
        sim = Sim(self)
        for method, target, body, status, answer, allow in (
            ("GET", "/nope", None, 404, error("no such endpoint: /nope"), None),
            ("DELETE", "/chat", None, 405, error("/chat takes POST, not DELETE"), "POST"),
            ("POST", "/health", "{}", 405, error("/health takes GET, not POST"), "GET"),
            ("POST", "/overlay", "", 400, error("request body is empty: send a JSON object"), None),
            ("POST", "/overlay", "[1]", 400, error("request body must be a JSON object, not array"), None),
            ("POST", "/clear", "null", 400, error("request body must be a JSON object, not null"), None),
            ("POST", "/overlay", "{}", 400, error('"message" is missing'), None),
            ("POST", "/overlay", '{"message":1}', 400, error('"message" must be a text, not number'), None),
            ("POST", "/chat", '{"message":"q","accent_hex":true}', 400, error('"accent_hex" must be a text, not boolean'), None),
            ("POST", "/chat", '{"message":"q","proposed_answers":"Yes"}', 400, list_of_texts, None),
            ("POST", "/chat", '{"message":"q","proposed_answers":["Yes",2]}', 400, list_of_texts, None),
            ("POST", "/game", "{}", 400, error('"game" must name a game: tic_tac_toe, snake or hangman'), None),
            ("POST", "/game", '{"game":"chess"}', 400, error("unknown game 'chess': tic_tac_toe, snake or hangman"), None),
            ("POST", "/game", '{"game":"hangman","hangman_mode":"both"}', 400, error("unknown hangman_mode 'both': user_guesses or agent_guesses"), None),
            ("POST", "/overlay", '{"message":"hi","extra":[1]}', 200, answered, None),
            ("POST", "/clear", '{"all":true}', 200, answered, None),
            ("POST", "/game", '{"game":"snake"}', 200, '{"game":"snake","result":"user won"}', None),
            ("GET", "/listen?since=1", None, 200, '{"message":"hello from tarnel-sim"}', None),
            ("POST", "/chat", '{"message":"q"}', 200, '{"answer":"ok"}', None),
        ):
            with self.subTest(method=method, target=target, body=body):
                got_status, headers, got = request(sim.port, method, target, body)
                self.assertEqual((got_status, got, headers["content-type"], headers.get("allow")),
                                 (status, answer, "application/json", allow))
        # Bytes that are not JSON, or not HTTP at all, are answered too, and the sim serves on.
        for data, status, start in (
            (b"POST /overlay HTTP/1.1\r\nContent-Length: 8\r\n\r\nnot json", 400, '{"error":"request body is not valid JSON: parse error at line 1, column 2'),
            (b'POST /chat HTTP/1.1\r\nContent-Length: 15\r\n\r\n{"message":"\xff"}', 400, '{"error":"request body is not valid JSON: parse error'),
            (b"garbage\r\n\r\n", 400, '{"error":"malformed HTTP request: '),
            (b"POST /overlay HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n", 413, error("request body too large")),
            # The header's 64 KiB count every line of it, however short, to the byte.
            (short_lines(1), 431, error("request headers too large")),
            (short_lines(0), 200, '{"app":"tarnel-sim",'),
            (b"GET /health HTTP/1.1\r\nX-A: " + b"b" * 65536 + b"\r\n\r\n", 431, error("request headers too large")),
        ):
            got_status, _, got = exchange(sim.port, data)
            self.assertEqual((got_status, got[:len(start)]), (status, start))
        self.assertEqual(request(sim.port, "GET", "/health")[0], 200)

    def test_hostile_requests_get_an_answer_and_the_sim_serves_on(self):
        ok, too_deep = '{"status":"ok"}', error("request body nests deeper than 512 levels")
        overflow, huge = error("request body cannot be read: number overflow parsing '1e400'"), '{"message":"x","n":1e400}'
        c1 = '{"message":"a\u009b31mb\u0085\u007f\u202e\u200b\u200b","title":"\u009b2J","name":"\u0090x"}'
        nul = '{"message":"x"}\0{"message":"y"}'
        for options, path, body, status, answer, recorded, shown in (
            # options; what is sent; the answer; the record's body (when --record); what the terminal shows (-i)
            ([], "/overlay", huge, 400, overflow, None, None),
            (["--record"], "/overlay", huge, 400, overflow, huge, None),
            ([], "/overlay", nested(100_000), 400, too_deep, None, None),
            (["--record"], "/overlay", nested(100_000), 400, too_deep, None, None),
            (["-i"], "/chat", nested(100_000), 400, too_deep, None, "POST /chat → 400 " + too_deep + "\n"),
            (["-i", "--record"], "/game", nested(100_000), 400, too_deep, None, "POST /game → 400 " + too_deep + "\n"),
            (["--record"], "/overlay", nested(512), 200, ok, json.loads(nested(512)), None),
            ([], "/overlay", nested(512).replace("[]", "[1]"), 200, ok, None, None),  # a scalar adds no level
            (["--record"], "/clear", nested(513), 400, too_deep, None, None),
            (["-i"], "/overlay", c1, 200, ok, None, "│ \\u{90}x · \\u{9B}2J\n│ a\\u{9B}31mb\\u{85}\\u{7F}\\u{202E}\\u{200B}×2\n"),
            (["--chat", "dismiss"], "/chat", '{"message":"q"}', 200, '{"dismissed":true}', None, None),
            # What the fuzzer found: the reader stops at a NUL, and a card drew an /overlay's
            # "proposed_answers" as if they were texts.
            (["--record"], "/overlay", nul, 400, error("request body is not valid JSON: byte 16 is NUL"), nul, None),
            (["-i"], "/overlay", '{"message":"x","proposed_answers":[1]}', 200, ok, None, "│ x\n╰─"),
        ):
            with self.subTest(options=options, path=path, body=body[:40]):
                record = self.file("record.jsonl")
                sim = Sim(self, *[word for o in options for word in ((o, record) if o == "--record" else (o, ))])
                got_status, headers, got = request(sim.port, "POST", path, body)
                self.assertEqual((got_status, got, headers["content-type"]), (status, answer, "application/json"))
                if shown:
                    self.assertTrue(sim.wait_for(shown), sim.output().decode())
                self.assertEqual(request(sim.port, "GET", "/health")[0], 200)
                stopped, port_file = sim.stop(signal.SIGTERM), os.path.exists(sim.path("port"))
                err = stopped.err.decode()
                self.assertEqual((stopped.status, "internal error" in err, err.splitlines()[-1], port_file),
                                 (0, False, "tarnel-sim: stopped: SIGTERM", False))
                self.assertNotIn(b"\xc2\x9b", stopped.out)
                if "--record" in options:
                    line = json.loads(self.read("record.jsonl").splitlines()[0])
                    self.assertEqual((line["body"], line.get("refused")), (recorded, None if status == 200 else json.loads(answer)["error"]))
        # A refused request counts toward --max-requests, and the sim then stops by itself.
        sim = Sim(self, "--max-requests", "1")
        self.assertEqual(request(sim.port, "POST", "/overlay", huge)[0], 400)
        stopped = sim.stop()
        self.assertEqual((stopped.status, stopped.err.decode().splitlines()[-1]), (0, "tarnel-sim: stopped: answered 1 requests"))

    def test_health_and_characters(self):
        sim = Sim(self)
        health = json.loads(request(sim.port, "GET", "/health")[2])
        self.assertEqual((health["port"], health["games"]), (sim.port, ["tic_tac_toe", "snake", "hangman"]))
        characters = json.loads(request(sim.port, "GET", "/characters")[2])
        self.assertEqual([c["name"] for c in characters], ["Vesk", "Soleth", "Mirren"])
        self.assertTrue(all(re.fullmatch("#[0-9A-F]{6}", c["accent_hex"]) and len(c["faces"]) >= 3 for c in characters))
        self.assertTrue({"happy", "angry"} <= set(characters[0]["faces"]))

        catalogue = [{"name": "Ada", "accent_hex": "#123456", "faces": ["calm"]}]
        custom = Sim(self, "--characters", self.file("characters.json", catalogue))
        self.assertEqual(json.loads(request(custom.port, "GET", "/characters")[2]), catalogue)

    def test_scripted_answers_come_in_order_then_the_defaults(self):
        sim = Sim(self, "--chat", "answer:Ship it", "--chat", "pick:2", "--chat", "pick:3", "--chat", "dismiss", "--chat", "timeout:0.01",
                  "--chat", "answer:a:b", "--chat", "answer:ça marche", "--listen", "message:hi there", "--listen", "cancel", "--listen", "timeout",
                  "--game", "result:agent won", "--game", "timeout:0.01")
        yes_no = ["ask", "Deploy?", "--answers", "Yes,No"]
        self.runs(sim, [
            (yes_no, "Ship it\n", "", 0),
            (yes_no, "No\n", "", 0),
            (yes_no, "", DISMISSED, 0),  # pick:3 of two answers
            (yes_no, "", DISMISSED, 0),
            (["ask", "Deploy?"], "", "error: request timed out — the user did not answer in time\n", 1),
            (["ask", "Deploy?"], "a:b\n", "", 0),
            (["ask", "Deploy?", "--json"], '{"answer":"ça marche"}\n', "", 0),  # UTF-8 as it is
            (yes_no, "Yes\n", "", 0),  # the queue is empty: the defaults answer
            (["ask", "Deploy?", "--json"], '{"answer":"ok"}\n', "", 0),
            (["listen"], "hi there\n", "", 0),
            (["listen"], "", CANCELLED, 0),
            (["listen"], "", "error: request timed out — no message was composed\n", 1),
            (["listen"], "hello from tarnel-sim\n", "", 0),
            (["game", "snake"], "agent won\n", "", 0),
            (["game", "hangman"], "", "error: game timed out\n", 1),
            (["game", "tic_tac_toe"], "user won\n", "", 0),
        ])

    def test_forced_answers_and_delays(self):
        sim = Sim(self, "--force", '/overlay=503:{"error":"busy"}', "--force", "/health=500", "--force", "/collapse=200:done",
                  "--force", "/extra=201", "--force", "/clear=204", "--delay", "/listen=60", "--delay", "/collapse=0.05", "--chat", "timeout:60")
        self.runs(sim, [
            (["notify", "hi"], "", 'error: server returned 503: {"error":"busy"}\n', 1),
            (["health"], "", "error: unexpected response (500): " + error("forced by --force") + "\n", 1),
            (["collapse", "--json"], "done\n", "", 0),
            (["clear"], "", "error: server returned 204: \n", 1),
            # Held past vesk's own deadline: vesk gives up, and the sim drops the answer.
            (["listen", "--timeout", "0.3"], "", "error: request timed out after 0s\n", 1),
            (["ask", "q", "--timeout", "0.3"], "", "error: request timed out after 0s\n", 1),
            (["ask", "q"], "ok\n", "", 0),  # the timeout was spent on the question vesk gave up
        ])
        self.assertEqual(request(sim.port, "PUT", "/extra")[0], 201)  # a forced path needs no endpoint
        self.assertEqual(request(sim.port, "POST", "/collapse", "{}")[1]["content-type"], "text/plain; charset=utf-8")
        err = sim.stop(signal.SIGTERM).err.decode()
        for line in ("GET /listen: the client hung up before the answer", "POST /chat: the client hung up before the answer", "PUT /extra 201"):
            self.assertIn("tarnel-sim: " + line + "\n", err)

    def test_every_request_is_one_json_line_in_the_record(self):
        sim = Sim(self, "--record", self.file("record.jsonl"), "--quiet")
        sim.vesk(["notify", "Build done", "--chara", "Vesk"])
        sim.vesk(["health"])
        request(sim.port, "POST", "/overlay?via=curl", "not json")
        stopped = sim.stop(signal.SIGTERM)
        self.assertEqual((stopped.status, stopped.out, b" 200\n" in stopped.err), (0, b"", False))  # --quiet
        lines = self.read("record.jsonl").splitlines()
        self.assertTrue(all(re.match(r'\{"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z",', line) for line in lines), lines)
        self.assertEqual([{k: v for k, v in json.loads(line).items() if k != "time"} for line in lines], [
            {"method": "POST", "path": "/overlay", "body": {"character": "Vesk", "message": "Build done"}},
            {"method": "GET", "path": "/health", "body": None},
            {"method": "POST", "path": "/overlay?via=curl", "body": "not json",
             "refused": "request body is not valid JSON: parse error at line 1, column 2: syntax error while parsing value - invalid literal; last read: 'no'"},
        ])
        to_stdout = Sim(self, "--record", "-")
        to_stdout.vesk(["clear"])
        self.assertEqual(json.loads(to_stdout.stop(signal.SIGTERM).out)["body"], {})

    def test_max_requests_ends_the_run_once_they_are_answered(self):
        sim = Sim(self, "--max-requests", "2", "--chat", "timeout:0.05")
        self.runs(sim, [(["collapse"], "✓ card collapsed\n", "", 0),
                        (["ask", "q"], "", "error: request timed out — the user did not answer in time\n", 1)])
        ended = sim.stop()
        self.assertEqual(ended.status, 0)
        self.assertIn(b"tarnel-sim: stopped: answered 2 requests\n", ended.err)
        self.assertEqual(sim.vesk(["health"]).status, 1)  # nothing listens any more

    def test_signals_stop_it_cleanly_while_a_question_is_open(self):
        for number, name in ((signal.SIGINT, "SIGINT"), (signal.SIGTERM, "SIGTERM"), (signal.SIGHUP, "SIGHUP")):
            sim = Sim(self, "--record", "-", "--chat", "timeout:600")
            asked = in_background(lambda: sim.vesk(["ask", "q"]))
            self.assertTrue(sim.wait_for('"path":"/chat"'))
            stopped = sim.stop(number)
            self.assertEqual(stopped.status, 0)
            self.assertIn(f"tarnel-sim: stopped: {name}\n".encode(), stopped.err)
            self.assertEqual(asked().status, 1)  # the app went away before answering
        # A person's terminal that stays open does not hold the sim back either.
        self.assertEqual(Sim(self, "--interactive").stop(signal.SIGTERM, limit=5).status, 0)

    def test_mistakes_are_named_and_end_the_run(self):
        bad = self.file("bad.json", [{"name": "X", "faces": ["a"]}])
        chat = "(answer:TEXT, pick:N, dismiss, timeout[:SECS])"
        for args, err in (
            (["--port", "x"], "--port: invalid port 'x' (0-65535)"),
            (["-p", "65536"], "--port: invalid port '65536' (0-65535)"),
            (["--chat", "yes"], "--chat: unknown answer 'yes' " + chat),
            (["--chat=pick:0"], "--chat: unknown answer 'pick:0' " + chat),
            (["--chat", "dismiss:now"], "--chat: unknown answer 'dismiss:now' " + chat),
            (["--listen", "answer:hi"], "--listen: unknown answer 'answer:hi' (message:TEXT, cancel, timeout[:SECS])"),
            (["--game", "timeout:-1"], "--game: unknown answer 'timeout:-1' (result:TEXT, timeout[:SECS])"),
            (["--delay", "chat=1"], "--delay: expected PATH=SECS, got 'chat=1'"),
            (["--delay", "/chat=soon"], "--delay: invalid seconds 'soon'"),
            (["--force", "/chat=99"], "--force: the status must be a number from 200 to 599, got '99'"),
            (["--max-requests", "0"], "--max-requests: expected a whole number above 0, got '0'"),
            (["--max-connections", "x"], "--max-connections: expected a whole number above 0, got 'x'"),
            (["--record"], "--record needs a value"),
            (["--quiet=yes"], "--quiet takes no value"),
            (["--frobnicate"], "unknown option '--frobnicate' (see tarnel-sim --help)"),
            (["-i", "--record", "-"], "--record - and --interactive both use standard output: record to a file instead"),
            (["--characters", "/nonexistent/c.json"], "cannot read /nonexistent/c.json"),
            (["--characters", bad], bad + ': character 1 needs an "accent_hex" text'),
            (["--record", "/nonexistent/r.jsonl"], "cannot write the record to /nonexistent/r.jsonl"),
        ):
            with self.subTest(args=args):
                self.expect(Sim(self, *args, wait=False).stop(), "", "tarnel-sim: error: " + err + "\n", 1)
        taken = str(Sim(self).port)
        second = Sim(self, "--port", taken, wait=False).stop()
        self.assertEqual(second.status, 1)
        self.assertRegex(second.err.decode(), f"^tarnel-sim: error: cannot listen on 127.0.0.1:{taken}: .* \\(--port 0 picks a free port\\)\n$")
        help_text = run(["--help"], program=SIM).out.decode()
        for option in ("--port", "--port-file", "--chat", "--listen", "--game", "--delay", "--force", "--characters",
                       "--record", "--interactive", "--max-requests", "--quiet", "--version"):
            self.assertIn(" " + option + " ", help_text)
        for version in ("--version", "-v"):
            self.expect(run([version], program=SIM), "tarnel-sim 2.0.0\n")

    def crowd(self, sim, size):
        """`size` questions at once, each proposing its own answer: (status, stdout, stderr) each."""
        asking = [subprocess.Popen([VESK, "ask", "q", "--answers", f"answer {i}", "--port", str(sim.port)],
                                   stdout=subprocess.PIPE, stderr=subprocess.PIPE) for i in range(size)]
        return [(child.communicate(timeout=120), child.returncode) for child in asking]

    def test_a_crowd_of_questions_each_gets_its_own_answer(self):
        size = crowd_size(300)
        sim = Sim(self, "--delay", "/chat=2", "--quiet")
        self.assertEqual(self.crowd(sim, size), [((f"answer {i}\n".encode(), b""), 0) for i in range(size)])

    def test_beyond_its_limit_it_refuses_with_a_503(self):
        sim = Sim(self, "--delay", "/chat=2", "--max-connections", "2", "--record", self.file("record.jsonl"))
        why = "tarnel-sim already holds 2 connections, its limit: try again once some are answered"
        refused = [outputs for outputs, status in self.crowd(sim, 3) if status]
        self.assertEqual(refused, [(b"", f'error: server returned 503: {{"error":"{why}"}}\n'.encode())])
        recorded = [json.loads(line) for line in self.read("record.jsonl").splitlines()]
        self.assertEqual([line.get("refused") for line in recorded].count(why), 1)

    @unittest.skipIf(SANITIZED, "a sanitizer needs descriptors of its own, to check memory and report")
    def test_out_of_open_files_it_still_refuses_at_once(self):
        # 64 open files leave the sim one connection; idle ones past it hold a descriptor each
        # until their deadline, 30 s, and use up the rest.
        sim = Sim(self, "--record", self.file("record.jsonl"), "--quiet", files=64)
        idle = [socket.create_connection(("127.0.0.1", sim.port)) for _ in range(100)]
        # Stopped, the sim finds the request there when it takes the connection.
        sim.child.send_signal(signal.SIGSTOP)
        with socket.create_connection(("127.0.0.1", sim.port), timeout=10) as waiting:
            waiting.sendall(b"GET /health HTTP/1.1\r\n\r\n")
            sim.child.send_signal(signal.SIGCONT)
            answer = b""
            while chunk := waiting.recv(65536):  # to the end: the sim closes the connection
                answer += chunk
        why = "tarnel-sim already holds 1 connections, its limit: try again once some are answered"
        self.assertEqual((answer.split(b" ")[1], answer.partition(b"\r\n\r\n")[2]), (b"503", error(why).encode()))
        self.assertEqual(json.loads(self.read("record.jsonl"))["refused"], why)
        for connection in idle:
            connection.close()
        for _ in range(100):  # served once the sim has seen the idle connections go
            if request(sim.port, "GET", "/health")[0] == 200:
                break
            time.sleep(0.05)
        else:
            self.fail("still refused once the idle connections closed")

    def test_a_person_answers_from_the_terminal(self):
        sim = Sim(self, "--interactive")

        def ask(args):  # returns once the sim prompts for it, and then waits for vesk's result
            prompts = sim.output().count(b"\n> ")
            asked = in_background(lambda: sim.vesk(args))
            self.assertTrue(sim.wait_for("\n> ", prompts + 1))
            return asked

        for args, typed, out, err in (
            (["ask", "Deploy?", "--answers", "Yes,No,Rollback", "--chara", "Soleth"], "2\n", "No\n", ""),
            (["ask", "Name?", "--answers", "Ada"], "  Grace Hopper \n", "Grace Hopper\n", ""),
            (["ask", "Pick?", "--answers", "A,B"], "3\n2\n", "B\n", ""),  # no answer 3: asked again
            (["ask", "Age?"], "42\n", "42\n", ""),
            (["ask", "Deploy?"], "\n", "", DISMISSED),
            (["listen"], "hello there\n", "hello there\n", ""),
            (["listen"], "\n", "", CANCELLED),
            (["game", "hangman", "--word", "apple"], "agent won\n", "agent won\n", ""),
            (["game", "snake"], "\n", "user won\n", ""),
        ):
            with self.subTest(args=args):
                asked = ask(args)
                sim.type(typed)
                self.expect(asked(), out, err)
        # A second question while one waits: the prompt under it shows again the card it answers.
        first, shown_from = ask(["ask", "First?", "--answers", "X,Y"]), len(sim.output())
        second = ask(["ask", "Second?"])
        self.assertRegex(sim.output()[shown_from:].decode(), r"(?s)│ Second\?\n.*waits behind 1 other.*│ First\?\n.*\(1 more waiting\)\n> $")
        sim.type("1\n\n")
        self.expect(first(), "X\n")
        self.expect(second(), "", DISMISSED)
        self.runs(sim, [
            (["notify", "Build done", "--name", "CI", "--title", "main", "--chara", "Vesk", "--face", "happy"], "✓ notification sent\n", "", 0),
            (["ask", "Still there?", "--timeout", "0.3"], "", "error: request timed out after 0s\n", 1),  # vesk gives up
        ])
        self.assertTrue(sim.wait_for("that question is withdrawn"))
        sim.child.stdin.close()
        self.assertTrue(sim.wait_for("standard input closed"))
        self.runs(sim, [(["ask", "Deploy?", "--answers", "A,B"], "A\n", "", 0)])
        stopped = sim.stop(signal.SIGTERM)
        self.assertEqual(stopped.status, 0)
        self.assertRegex(stopped.out.decode(), r"╭─ \d\d:\d\d:\d\d  /overlay\n")  # the card's clock
        for shown in ("│ Soleth\n│ Deploy?\n│ Soleth · calm\n│   1) Yes  2) No  3) Rollback\n╰─\n",
                      "there is no answer 3: type 1 to 2, or words of your own\n",
                      "answer: a number picks, other text is the answer, an empty line dismisses\n",
                      '→ 200 {"answer":"No"}\n', "compose: type a message", "│ game: hangman · word: apple\n",
                      '→ 200 {"cancelled":true}\n', "│ CI · main\n│ Build done\n│ Vesk · happy\n╰─\n"):
            self.assertIn(shown, stopped.out.decode())

    def test_cards_in_colour_on_a_terminal(self):
        for colorterm, accent in (("truecolor", "\x1b[38;2;127;214;255m"), ("", "\x1b[38;5;117m")):
            sim = Sim(self, "--interactive", terminal=True, env={**os.environ, "COLORTERM": colorterm})
            sim.vesk(["notify", "hi", "--accent", "#7fD6ff"])
            self.assertTrue(sim.wait_for(accent), sim.output())

    def test_every_vesk_command_against_the_sim(self):
        sim = Sim(self, "--record", self.file("record.jsonl"), "--chat", "pick:3", "--listen", "message:ship it", "--game", "result:agent won")
        tour = (
            (["health"], f'● Tarnel is running on port {sim.port}\n  games: ["tic_tac_toe","snake","hangman"]\n', "GET", "/health", None),
            (["characters"], "● Vesk  #7FD6FF\n  faces: neutral, happy, angry, sad, surprised, thinking\n"
                             "● Soleth  #F5A623\n  faces: calm, smug, sleepy, laughing\n"
                             "● Mirren  #B48CFF\n  faces: curious, cheerful, worried, proud\n", "GET", "/characters", None),
            (["notify", "Build done", "--name", "CI", "--color", "#00FF00", "--chara", "Vesk", "--face", "happy"], "✓ notification sent\n",
             "POST", "/overlay", {"message": "Build done", "name": "CI", "name_color": "#00FF00", "character": "Vesk", "face": "happy"}),
            (["say", "on it"], "✓ message sent\n", "POST", "/overlay", {"message": "on it", "name": "You", "accent_hex": "#FFFFFF"}),
            (["ask", "Deploy?", "--answers", "Yes,No,Rollback", "--chara", "Soleth"], "Rollback\n", "POST", "/chat",
             {"message": "Deploy?", "character": "Soleth", "proposed_answers": ["Yes", "No", "Rollback"]}),
            (["listen"], "ship it\n", "GET", "/listen", None),
            (["game", "hangman", "--mode", "agent_guesses", "--word", "apple"], "agent won\n", "POST", "/game",
             {"game": "hangman", "hangman_mode": "agent_guesses", "hangman_word": "apple"}),
            (["game", "Tic-Tac-Toe", "--json"], '{"game":"tic_tac_toe","result":"user won"}\n', "POST", "/game", {"game": "tic_tac_toe"}),
            (["collapse"], "✓ card collapsed\n", "POST", "/collapse", {}),
            (["clear"], "✓ state cleared\n", "POST", "/clear", {}),
        )
        self.runs(sim, [(args, out, "", 0) for args, out, *_ in tour])
        self.assertEqual(sim.stop(signal.SIGTERM).status, 0)
        recorded = [json.loads(line) for line in self.read("record.jsonl").splitlines()]
        self.assertEqual([(r["method"], r["path"], r["body"]) for r in recorded], [tuple(step[2:]) for step in tour])


if __name__ == "__main__":
    unittest.main()
