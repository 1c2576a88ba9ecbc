"""The front end as a user meets it: the help, the version line, unknown commands, the global options,
the colour rule, and results that cannot be written."""
import os
import re
import unittest

from harness import VESK, Case, Responder, ok, run

HELP = open(os.path.join(os.path.dirname(__file__), "help.txt"), "rb").read()
CANNOT_WRITE = "error: cannot write to standard output: "
CLOSED_PIPE = "a pipe whose reader is gone"


def plain(text):
    return re.sub(rb"\x1b\[[0-9]+m", b"", text)


class CliTest(Case):
    def test_help_for_help_words_and_leading_options(self):
        for args in ([], ["help"], ["HELP"], ["--help"], ["-H"], ["--json", "notify", "hi"],
                     ["--port", "8080", "notify", "hi"], ["-x"], ["help", "extra", "--json"]):
            with self.subTest(args=args):
                self.expect(run(args), HELP)

    def test_help_on_a_terminal_paints_its_segments(self):
        result = run(["help"], terminal=True)
        self.assertEqual((plain(result.out), result.status), (HELP, 0))
        self.assertEqual((result.out.count(b"\x1b[0m"), result.out.count(b"\x1b[")), (67, 2 * 67))
        for painted in ("\x1b[1mvesk\x1b[0m — CLI companion for Tarnel\n", "\n\x1b[1mGLOBAL OPTIONS:\x1b[0m\n",
                        "\n    \x1b[36mnotify\x1b[0m    Send a notification to the notch\n",
                        "\n    \x1b[36mcharacters\x1b[0m  List loaded", "\n    \x1b[33m--chara\x1b[0m <NAME>     Use a character's",
                        '[\x1b[33m--answers\x1b[0m "A,B,C"]', "[\x1b[33m--image-base64\x1b[0m DATA]",
                        "  \x1b[2m(hangman only)\x1b[0m\n", '\n    \x1b[2m$\x1b[0m vesk notify "Hello!" --chara Vesk\n',
                        "\n    Use \x1b[33m--chara\x1b[0m with notify", "\n    \x1b[2m# Pipe listen into another command:\x1b[0m\n",
                        "\n    vesk <command> [options]\n", "\n    vesk game <tic_tac_toe|snake|hangman>\n"):
            self.assertIn(painted.encode(), result.out)

    def test_help_after_any_command_word_acts_on_nothing(self):
        app = Responder(self, ok('{"answer":"Yes"}'))
        for args in (["clear", "--help"], ["collapse", "-h"], ["notify", "hi", "--help"], ["n", "--help"],
                     ["game", "snake", "--HELP"], ["g", "-H"], ["ask", "Deploy?", "--answers", "Yes,No", "-h"],
                     ["a", "--help", "Deploy?"], ["listen", "--help"], ["l", "-h"], ["say", "hi", "-h"], ["s", "--help"],
                     ["health", "--help"], ["ping", "-h"], ["characters", "--help"], ["chars", "-h"], ["c", "--Help"],
                     ["version", "--help"], ["-v", "-h"], ["help", "-h"]):
            with self.subTest(args=args):
                self.expect(app.vesk(args), HELP)
                self.assertEqual(app.requests, [])

    def test_a_result_that_cannot_be_written_is_a_failure(self):
        app = Responder(self, ok('{"answer":"Yes"}'))
        no_space, closed = CANNOT_WRITE + "No space left on device\n", CANNOT_WRITE + "Bad file descriptor\n"
        # Rows: words, where standard output goes, standard output as captured, standard error,
        # exit status, whether the request reached the app.
        for args, redirection, out, err, status, sent in (
            (["ask", "Deploy?", "--answers", "Yes,No"], ">/dev/full", "", no_space, 1, True),
            (["version"], ">/dev/full", "", no_space, 1, False),
            (["help"], ">/dev/full", "", no_space, 1, False),
            (["ask", "Deploy?"], ">&-", "", closed, 1, False),  # never asked: the answer had nowhere to go
            (["listen"], ">&-", "", closed, 1, False),
            (["version"], ">&-", "", closed, 1, False),
            (["notify", "hi"], "1</dev/null", "", closed, 1, False),
            (["ask", "Deploy?"], "<&- 2>&-", "Yes\n", "", 0, True),
            (["ask", "Deploy?"], CLOSED_PIPE, "", "", 1, True),
            (["help"], CLOSED_PIPE, "", "", 1, False),
        ):
            with self.subTest(args=args, redirection=redirection):
                if "/dev/full" in redirection and not os.path.exists("/dev/full"):
                    self.skipTest("no /dev/full here")
                before = len(app.requests)
                if redirection == CLOSED_PIPE:
                    reader, writer = os.pipe()
                    os.close(reader)
                    try:
                        result = app.vesk(args, stdout=writer)
                    finally:
                        os.close(writer)
                else:
                    result = app.vesk(["-c", f'exec "$0" "$@" {redirection}', VESK, *args], program="/bin/sh")
                self.expect(result, out, err, status)
                self.assertEqual(len(app.requests) - before, int(sent))

    def test_version_line(self):
        for args in (["version"], ["-v"], ["--VERSION"], ["--version", "--json"]):
            self.expect(run(args, terminal=True), "vesk 2.0.0\n")

    def test_unknown_command_names_it_and_shows_the_help(self):
        for terminal, option in ((False, "--json"), (True, "--help")):
            result = run(["Frobnicate", option], terminal=terminal)
            self.assertEqual((plain(result.out), result.err, result.status),
                             (HELP, b"unknown command: frobnicate\n", 1))  # plain, even on a terminal

    def test_global_options_are_checked_before_any_command(self):
        for args, err in (
            (["help", "--port", "0"], "invalid port: 0"),
            (["clear", "--help", "--timeout", "0"], "invalid timeout: 0"),
            (["version", "--timeout", "0"], "invalid timeout: 0"),
            (["notify", "hi", "--port", "70000", "--timeout", "x"], "invalid port: 70000"),
            (["frobnicate", "--port", "x"], "invalid port: x"),
            (["health", "--port"], "invalid port: true"),
            (["health", "--port", ""], "invalid port: "),
            (["health", "-p", "65536"], "invalid port: 65536"),
            (["health", "--PORT", "1", "-p", "x", "-t", "nan"], "invalid timeout: nan"),  # --port wins
            (["health", "--timeout", "-1"], "invalid timeout: -1"),
            (["health", "-t", " 5"], "invalid timeout:  5"),
        ):
            with self.subTest(args=args):
                self.expect(run(args), "", "error: " + err + "\n", 1)
        self.expect(run(["health", "--port", "x"], terminal=True), "", "\x1b[31m\x1b[1merror:\x1b[0m invalid port: x\n", 1)


if __name__ == "__main__":
    unittest.main()
