"""Every command against a loopback app: the one request it sent, both output streams and the exit
status. A row: words, the app's answer, what was sent (method, path, JSON body; None: nothing),
standard output, standard error, exit status, and whether standard output is a terminal."""
import unittest

from harness import Case, Responder, http, ok

USAGE = {
    "notify": 'notify requires a message.\n\nUsage: vesk notify "message" [--name NAME] [--color HEX] [--accent HEX]',
    "say": 'say requires a message.\n\nUsage: vesk say "message" [--name NAME] [--accent HEX]',
    "ask": 'ask requires a message.\n\nUsage: vesk ask "question" [--answers "Yes,No"] [--name NAME] [--color HEX]',
    "game": "game requires a game type.\n\nUsage: vesk game <tic_tac_toe|snake|hangman> [--mode MODE] [--word WORD] [--accent HEX]",
}
SENT, MSG = "✓ notification sent\n", "✓ message sent\n"
YOU = {"name": "You", "accent_hex": "#FFFFFF"}
DISMISSED = "warning: user dismissed without answering\n"
CANCELLED = "warning: compose was cancelled — no message\n"
RUNNING = "● Tarnel is running on port "
BAD_GAME = "'. Valid games: tic_tac_toe, snake, hangman\n"
REFUSED = "error: failed to encode JSON body\n"
CHARACTERS = (b'[{"name":"Vesk","accent_hex":"#00FF00","faces":["happy","angry"]},{"name":"Soleth","faces":[]},'
              b'{"name":12,"accent_hex":"not a colour","faces":["a",1]},{"accent_hex":"#123456","faces":["","b"]},{"name":"N"},'
              b'{"name":"S","faces":"x"}]')


def usage(command):
    return "error: " + USAGE[command] + "\n"


def post(path, **body):
    return ("POST", path, body)


def get(path):
    return ("GET", path, None)


class CommandsTest(Case):
    def check(self, rows):
        for args, reply, sent, out, err, status, *terminal in rows:
            with self.subTest(args=args):
                app = Responder(self, reply)
                self.expect(app.vesk(args, terminal=bool(terminal)), out, err, status)
                self.assertEqual(len(app.requests), 0 if sent is None else 1)
                if sent is None:
                    continue
                request, (method, path, body) = app.requests[0], sent
                self.assertEqual((request.method, request.target), (method, path))
                if body is None:
                    self.assertEqual(request.body, b"")
                    self.assertNotIn("content-type", request.headers)
                else:
                    self.assertEqual(request.headers.get("content-type"), "application/json")
                    self.assertEqual(self.sent_json(request), body)

    def test_notify(self):
        self.check([
            (["notify", "Build done", "--name", "CI", "--color", "#00FF00"], ok(), post("/overlay", message="Build done", name="CI", name_color="#00FF00"), SENT, "", 0),
            (["n", "hi", "--name", "N", "--color", "red", "--accent", "#12", "--title", "T", "--image-url", "u", "--image-base64", "AAAA", "--chara", "Vesk", "--face", "happy"], ok(),
             post("/overlay", message="hi", name="N", name_color="red", accent_hex="#12", title="T", image_url="u", image_base64="AAAA", character="Vesk", face="happy"), SENT, "", 0),
            (["NOTIFY", "Hello", "world", "--NAME", "CI", "--answers", "a,b", "--mode", "m"], ok(), post("/overlay", message="Hello", name="CI"), SENT, "", 0),
            (["notify", "", "--name", "X", "--title"], ok(), post("/overlay", message="", name="X", title="true"), SENT, "", 0),
            (["notify", "hi"], ok(), post("/overlay", message="hi"), "\x1b[32m✓\x1b[0m notification sent\n", "", 0, True),
            (["notify", "hi", "--json"], ok("not json"), post("/overlay", message="hi"), "not json\n", "", 0),
            (["notify", "hi", "--json"], http(204), post("/overlay", message="hi"), "", "error: server returned 204: \n", 1),
            (["notify", "hi"], http(201, "created"), post("/overlay", message="hi"), "", "error: server returned 201: created\n", 1),
            (["notify", "--json", "--name", "X"], ok(), None, "", usage("notify"), 1),
            (["notify", "hi", "--name", "-h"], ok(), post("/overlay", message="hi", name="-h"), SENT, "", 0),  # a value, not a request for help
        ])

    def test_say(self):
        self.check([
            (["say", "review the PR at 5pm"], ok(), post("/overlay", message="review the PR at 5pm", **YOU), MSG, "", 0),
            (["s", "hi", "--name", "Soleth", "--accent", "#00FF00"], ok(), post("/overlay", message="hi", name="Soleth", accent_hex="#00FF00"), MSG, "", 0),
            (["say", "hi", "--color", "#0F0", "--chara", "V", "--face", "f", "--title", "T", "--image-url", "U", "--image-base64", "B"], ok(),
             post("/overlay", message="hi", name_color="#0F0", character="V", face="f", **YOU), MSG, "", 0),
            (["say", "hi", "--name", "", "--accent", ""], ok(), post("/overlay", message="hi", name="", accent_hex=""), MSG, "", 0),
            (["say", "hi"], ok(), post("/overlay", message="hi", **YOU), "\x1b[32m✓\x1b[0m message sent\n", "", 0, True),
            (["say", "hi"], http(500, "boom"), post("/overlay", message="hi", **YOU), "", "error: server returned 500: boom\n", 1),
            (["say"], ok(), None, "", usage("say"), 1),
        ])

    def test_ask(self):
        q = {"message": "Deploy?"}
        self.check([
            (["ask", "Deploy?", "--answers", "Yes,No,Rollback"], ok('{"answer":"No"}'), post("/chat", **q, proposed_answers=["Yes", "No", "Rollback"]), "No\n", "", 0),
            (["a", "Deploy?", "--answers", " Yes ,, No ,"], ok('{"answer":"Yes"}'), post("/chat", **q, proposed_answers=["Yes", "No"]), "Yes\n", "", 0),
            (["ask", "Deploy?", "--answers", "\tA\t,\u00a0B,C\n,Yes,Yes"], ok('{"answer":"A"}'), post("/chat", **q, proposed_answers=["A", "B", "C\n", "Yes", "Yes"]), "A\n", "", 0),
            (["ask", "Deploy?", "--answers", " , "], ok('{"answer":"x"}'), post("/chat", **q), "x\n", "", 0),
            (["ask", "Deploy?", "--name", "CI", "--color", "c", "--accent", "a", "--title", "T", "--image-url", "u", "--image-base64", "b", "--chara", "V", "--face", "f", "--answers"],
             ok('{"answer":"x"}'), post("/chat", **q, name="CI", name_color="c", accent_hex="a", title="T", image_url="u", image_base64="b", character="V", face="f", proposed_answers=["true"]), "x\n", "", 0),
            (["ask", "Deploy?"], ok('{"answer":42,"extra":true}'), post("/chat", **q), "42\n", "", 0),
            (["ask", "Deploy?", "--json"], ok('{"answer":"Yes"}'), post("/chat", **q), '{"answer":"Yes"}\n', "", 0),
            (["ask", "Deploy?"], ok('{"answer":"Yes"}'), post("/chat", **q), "Yes\n", "", 0, True),
            (["ask", "Deploy?"], ok("{}"), post("/chat", **q), "", DISMISSED, 0),
            (["ask", "Deploy?"], ok('{"answer":""}'), post("/chat", **q), "", DISMISSED, 0),
            (["ask", "Deploy?"], ok('{"answer":null}'), post("/chat", **q), "", DISMISSED, 0),
            (["ask", "Deploy?"], ok('["Yes"]'), post("/chat", **q), "", DISMISSED, 0),
            (["ask", "Deploy?"], ok("{}"), post("/chat", **q), "", "\x1b[33m\x1b[1mwarning:\x1b[0m user dismissed without answering\n", 0, True),
            (["ask", "Deploy?", "--json"], http(408, "late"), post("/chat", **q), "", "error: request timed out — the user did not answer in time\n", 1),
            (["ask", "Deploy?"], http(500, "oops"), post("/chat", **q), "", "error: server returned 500: oops\n", 1),
            (["ask", "--answers", "Yes,No"], ok(), None, "", usage("ask"), 1),
        ])

    def test_listen(self):
        self.check([
            (["listen"], ok('{"message":"hello\\nworld"}'), get("/listen"), "hello\nworld\n", "", 0),
            (["l", "something", "--name", "x"], ok('{"message":7}'), get("/listen"), "7\n", "", 0),
            (["listen"], ok('{"message":""}'), get("/listen"), "", CANCELLED, 0),
            (["listen"], ok('{"message":null}'), get("/listen"), "", CANCELLED, 0),
            (["listen"], ok("plain text"), get("/listen"), "", CANCELLED, 0),
            (["listen", "--json"], ok('{"message":""}'), get("/listen"), '{"message":""}\n', "", 0),
            (["listen"], http(408), get("/listen"), "", "error: request timed out — no message was composed\n", 1),
            (["listen"], http(500, "down"), get("/listen"), "", "error: server returned 500: down\n", 1),
        ])

    def test_game(self):
        self.check([
            (["game", "Tic-Tac-Toe"], ok('{"result":"user won"}'), post("/game", game="tic_tac_toe"), "user won\n", "", 0),
            (["g", "SNAKE", "extra", "--word", "w", "--mode", "m", "--accent", "#1", "--chara", "V", "--face", "f", "--name", "N", "--color", "C", "--title", "T"],
             ok('{"result":{"score":12}}'), post("/game", game="snake", accent_hex="#1", character="V", face="f"), '{"score":12}\n', "", 0),
            (["game", "hangman", "--mode", "agent_guesses", "--word", "apple"], ok('{"result":true}'),
             post("/game", game="hangman", hangman_mode="agent_guesses", hangman_word="apple"), "1\n", "", 0),
            (["game", "hangman"], ok('{"result":null,"moves":3}'), post("/game", game="hangman"), '{"result":null,"moves":3}\n', "", 0),
            (["game", "snake"], ok("game over"), post("/game", game="snake"), "game over\n", "", 0),
            (["game", "snake", "--json"], ok('{"result":"lost"}'), post("/game", game="snake"), '{"result":"lost"}\n', "", 0),
            (["game", "snake"], http(408), post("/game", game="snake"), "", "error: game timed out\n", 1),
            (["game", "snake"], http(503, "busy"), post("/game", game="snake"), "", "error: server returned 503: busy\n", 1),
            (["game"], ok(), None, "", usage("game"), 1),
            (["game", "--word", "x"], ok(), None, "", usage("game"), 1),
            (["game", "HANG-MAN"], ok(), None, "", "error: unknown game 'HANG-MAN" + BAD_GAME, 1),
            (["game", "Tic-Tac-Tic"], ok(), None, "", "error: unknown game 'Tic-Tac-Tic" + BAD_GAME, 1),
            (["game", " snake"], ok(), None, "", "error: unknown game ' snake" + BAD_GAME, 1),
        ])

    def test_health(self):
        self.check([
            (["health"], ok('{"port":47037,"games":["snake","hangman"]}'), get("/health"), RUNNING + '47037\n  games: ["snake","hangman"]\n', "", 0),
            (["ping", "extra", "--name", "x"], ok('{"port":"47037","games":"all"}'), get("/health"), RUNNING + "47037\n  games: all\n", "", 0),
            (["health"], ok("up"), get("/health"), RUNNING + "?\n  games: []\n", "", 0),
            (["health"], ok('{"port":true,"games":null}'), get("/health"), RUNNING + "1\n  games: []\n", "", 0),
            (["health"], ok('{"port":47037,"games":["snake"]}'), get("/health"),
             '\x1b[32m●\x1b[0m Tarnel is running on port \x1b[1m47037\x1b[0m\n\x1b[2m  games:\x1b[0m ["snake"]\n', "", 0, True),
            (["health", "--json"], ok('{"port":1}'), get("/health"), '{"port":1}\n', "", 0),
            (["health", "--json"], http(503, "starting"), get("/health"), "", "error: unexpected response (503): starting\n", 1),
        ])

    def test_collapse_and_clear(self):
        for word, phrase in (("collapse", " card collapsed"), ("clear", " state cleared")):
            self.check([
                ([word], ok(), post("/" + word), "✓" + phrase + "\n", "", 0),
                ([word, "extra", "--name", "X"], ok("whatever"), post("/" + word), "✓" + phrase + "\n", "", 0),
                ([word], ok(), post("/" + word), "\x1b[32m✓\x1b[0m" + phrase + "\n", "", 0, True),
                ([word, "--json"], ok(), post("/" + word), "\n", "", 0),
                ([word], http(404, "no such endpoint"), post("/" + word), "", "error: server returned 404: no such endpoint\n", 1),
            ])
        app = Responder(self, ok())
        app.vesk(["clear"])
        self.assertEqual(app.requests[0].body, b"{}")  # the empty object is exactly two bytes

    def test_characters(self):
        self.check([
            (["characters"], ok(CHARACTERS), get("/characters"),
             "● Vesk  #00FF00\n  faces: happy, angry\n● Soleth  #7FD6FF\n  faces: (no faces)\n● ?  not a colour\n  faces: (no faces)\n● ?  #123456\n  faces: , b\n● N  #7FD6FF\n  faces: (no faces)\n"
             "● S  #7FD6FF\n  faces: (no faces)\n", "", 0),
            (["chars"], ok(CHARACTERS), get("/characters"),
             "\x1b[36m●\x1b[0m \x1b[1mVesk\x1b[0m  \x1b[2m#00FF00\x1b[0m\n  faces: happy, angry\n"
             "\x1b[36m●\x1b[0m \x1b[1mSoleth\x1b[0m  \x1b[2m#7FD6FF\x1b[0m\n  faces: \x1b[2m(no faces)\x1b[0m\n"
             "\x1b[36m●\x1b[0m \x1b[1m?\x1b[0m  \x1b[2mnot a colour\x1b[0m\n  faces: \x1b[2m(no faces)\x1b[0m\n"
             "\x1b[36m●\x1b[0m \x1b[1m?\x1b[0m  \x1b[2m#123456\x1b[0m\n  faces: , b\n"
             "\x1b[36m●\x1b[0m \x1b[1mN\x1b[0m  \x1b[2m#7FD6FF\x1b[0m\n  faces: \x1b[2m(no faces)\x1b[0m\n"
             "\x1b[36m●\x1b[0m \x1b[1mS\x1b[0m  \x1b[2m#7FD6FF\x1b[0m\n  faces: \x1b[2m(no faces)\x1b[0m\n", "", 0, True),
            (["c"], ok("[]"), get("/characters"), "No characters loaded.\n", "", 0),
            (["c"], ok("[]"), get("/characters"), "\x1b[2mNo characters loaded.\x1b[0m\n", "", 0, True),
            (["characters", "--json"], ok("[]"), get("/characters"), "[]\n", "", 0),
            (["characters"], ok('[{"name":"A"},"B"]'), get("/characters"), '[{"name":"A"},"B"]\n', "", 0),
            (["characters"], ok("not json"), get("/characters"), "not json\n", "", 0),
            (["characters"], http(408, "slow"), get("/characters"), "", "error: server returned 408: slow\n", 1),
        ])

    def test_values_that_are_not_utf8_are_never_sent(self):
        self.check([
            (["notify", b"caf\xe9"], ok(), None, "", REFUSED, 1),
            (["ask", "q", "--answers", b"a,\xff"], ok(), None, "", REFUSED, 1),
            (["say", "hi", "--name", b"\xc0\x80"], ok(), None, "", REFUSED, 1),
            (["game", "hangman", "--word", b"\xed\xa0\x80"], ok(), None, "", REFUSED, 1),
            (["notify", 'é — ⌘⇧K 😀 "quoted" \\ \t\n\x01'], ok(), post("/overlay", message='é — ⌘⇧K 😀 "quoted" \\ \t\n\x01'), SENT, "", 0),
        ])

    def test_app_text_cannot_drive_a_terminal(self):
        # Retitles the window, clears the screen, writes the clipboard, hides "No" behind "Yes".
        sent = '\\u001b]0;owned\\u0007\\u001b[2J\\u001b]52;c;eA==\\u0007No\\rYes\\u0085\\ttab\\nline é😀'
        raw = "\x1b]0;owned\x07\x1b[2J\x1b]52;c;eA==\x07No\rYes\x85\ttab\nline é😀"
        shown = "\\x1b]0;owned\\x07\\x1b[2J\\x1b]52;c;eA==\\x07No\\x0dYes\\xc2\\x85\ttab\nline é😀"
        listing = "\x1b[36m●\x1b[0m \x1b[1m{}\x1b[0m  \x1b[2m#7FD6FF\x1b[0m\n  faces: \x1b[2m(no faces)\x1b[0m\n"
        for args, reply, stream, pipe, terminal in (
            (["ask", "q"], ok('{"answer":"%s"}' % sent), "out", raw + "\n", shown + "\n"),
            (["listen"], ok('{"message":"%s"}' % sent), "out", raw + "\n", shown + "\n"),
            (["listen", "--json"], ok(raw), "out", raw + "\n", shown + "\n"),
            (["characters"], ok('[{"name":"%s"}]' % sent), "out", f"● {raw}  #7FD6FF\n  faces: (no faces)\n", listing.format(shown)),
            (["notify", "hi"], http(500, raw), "err", f"error: server returned 500: {raw}\n", f"error: server returned 500: {shown}\n"),
        ):
            with self.subTest(args=args):
                app = Responder(self, reply)
                for on_terminal, expected in ((False, pipe), (stream, terminal)):
                    result = app.vesk(args, terminal=on_terminal)
                    self.assertEqual(result.out if stream == "out" else result.err, expected.encode())


if __name__ == "__main__":
    unittest.main()
