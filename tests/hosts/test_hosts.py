"""vesk-mcp as the approver of real agent hosts: Claude Code and Codex, installed from npm by
scripts/check-agent-hosts.sh, run offline against a fake of their model API (fake_model.py) and
tarnel-sim. The model asks to run one command; it must run only when the person answers Allow in
the notch, and the card must show that command whole. Claude Code hands the decision to
`approve` in -p and to `vesk-mcp --hook` in its SDK mode, where the SDK side never answers, so
the hook decides; Codex to the hook in its terminal UI, driven in tmux."""
import json
import os
import select
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import unittest

from fake_model import FakeModel

CLAUDE = os.environ.get("CLAUDE") and os.path.abspath(os.environ["CLAUDE"])
CODEX = os.environ.get("CODEX") and os.path.abspath(os.environ["CODEX"])
VESK_MCP = os.path.abspath(os.environ.get("VESK_MCP", "build/src/vesk-mcp"))
SIM = os.path.abspath(os.environ.get("TARNEL_SIM", "build/sim/tarnel-sim"))
LIMIT = 120  # seconds for any one wait on a host; a whole run takes a few

# What the person does with the card, as tarnel-sim's script for /chat (None: no app runs); the
# hook's decision (None: it leaves the host's own dialog to ask, and nobody answers that here);
# and what Codex's screen then shows. The command runs on "allow" only.
OUTCOMES = (("Allow", "answer:Allow", "allow", "Ran printf"),
            ("Deny", "answer:Deny", "deny", "Blocked by hook"),
            ("dismiss", "dismiss", None, "Would you like to run"),
            ("no app", None, None, "Would you like to run"))

# Claude Code, offline: its model API on loopback, nothing sent anywhere else.
CLAUDE_QUIET = {"ANTHROPIC_API_KEY": "sk-ant-offline-check", "DISABLE_TELEMETRY": "1",
                "CLAUDE_CODE_DISABLE_NONESSENTIAL_TRAFFIC": "1", "DISABLE_AUTOUPDATER": "1",
                "DISABLE_ERROR_REPORTING": "1",
                "CLAUDE_CODE_DISABLE_OFFICIAL_MARKETPLACE_AUTOINSTALL": "1"}


def quoted(*words):
    return " ".join("'" + word.replace("'", "'\\''") + "'" for word in words)


class Workspace:
    """A folder with the host's HOME and the agent's project in it, the fake model, and the app:
    tarnel-sim answering /chat as `chat` says, or with None, a port where nothing listens. The
    command the model asks for touches a marker outside the project, which needs permission; it
    is long enough that a card cut after a couple of hundred characters would lose its end."""

    def __init__(self, test, chat, interactive=False):
        self.test, self.chat, self.sim = test, chat, None
        self._folder = tempfile.TemporaryDirectory(prefix="vesk-hosts-")
        self.root = os.path.realpath(self._folder.name)
        self.home, self.project = self.path("home"), self.path("agent-project")
        os.makedirs(self.path("home", ".claude"))
        os.makedirs(self.project)
        self.marker = self.path("ran")
        padding = "a harmless head, long enough for a card cut short to end here. " * 3
        self.command = f"printf %s {quoted(padding)} >/dev/null; touch {quoted(self.marker)}"
        self.model = FakeModel(self.command)
        self._refusing = socket.socket()  # bound and never listening: a port where no app runs
        self._refusing.bind(("127.0.0.1", 0))
        self.app_port = self._refusing.getsockname()[1]
        if chat or interactive:
            self._start_sim(["--interactive"] if interactive else ["--quiet", "--chat", chat])

    def path(self, *names):
        return os.path.join(self.root, *names)

    def _start_sim(self, options):
        port_file = self.path("sim.port")
        self.sim = subprocess.Popen([SIM, "--port", "0", "--port-file", port_file, "--record",
                                     self.path("sim.jsonl"), *options], stdin=subprocess.PIPE,
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 10
        while self.sim.poll() is None and time.monotonic() < deadline:
            if os.path.exists(port_file) and os.path.getsize(port_file):
                with open(port_file) as text:
                    self.app_port = int(text.read())
                return
            time.sleep(0.02)
        self.test.fail("tarnel-sim did not start")

    def __enter__(self):
        return self

    def __exit__(self, *exception):
        self.model.stop()
        if self.sim:
            self.sim.terminate()
            self.sim.wait(10)
            self.sim.stdin.close()
            self.sim.stdout.close()
        self._refusing.close()
        self._folder.cleanup()

    def write(self, name, content):
        with open(self.path(*name.split("/")), "w") as file:
            file.write(content if isinstance(content, str) else json.dumps(content))
        return self.path(*name.split("/"))

    def hook_settings(self, timeout):
        """The one entry of a host's hook configuration that sends its dialogs to the notch."""
        command = quoted(VESK_MCP, "--hook", "--port", str(self.app_port), "--approve-timeout", "60")
        return {"hooks": {"PermissionRequest": [
            {"matcher": "*", "hooks": [{"type": "command", "command": command, "timeout": timeout}]}]}}

    def claude_env(self, **more):
        return {"PATH": os.environ["PATH"], "HOME": self.home, "TMPDIR": self.root,
                "ANTHROPIC_BASE_URL": f"http://127.0.0.1:{self.model.port}", **CLAUDE_QUIET, **more}

    def expect(self, behaviour):
        """The command ran only if allowed, and the app, if any, got one question: the command
        whole, the two answers, and the agent's project folder in its title."""
        self.test.assertEqual(os.path.exists(self.marker), behaviour == "allow")
        if not self.chat:
            return
        with open(self.path("sim.jsonl")) as record:
            cards = [json.loads(line)["body"] for line in record]
        self.test.assertEqual(len(cards), 1, cards)
        self.test.assertIn(self.command, cards[0]["message"])
        self.test.assertEqual(cards[0]["proposed_answers"], ["Allow", "Deny"])
        self.test.assertIn("agent-project", cards[0].get("title", ""))

    def tool_result(self):
        """The result of the command as the host told its model."""
        for message in reversed(self.model.requests[-1]["messages"]):
            for block in message["content"] if isinstance(message["content"], list) else []:
                if block.get("type") == "tool_result":
                    return block
        self.test.fail("the host told its model no tool result")

    def wait_for_sim(self, text):
        """Waits for the interactive sim to print `text` on its terminal."""
        shown, deadline = b"", time.monotonic() + LIMIT
        while text not in shown and time.monotonic() < deadline:
            if select.select([self.sim.stdout], [], [], 1)[0]:
                chunk = os.read(self.sim.stdout.fileno(), 65536)
                self.test.assertTrue(chunk, f"tarnel-sim ended without saying {text}: {shown}")
                shown += chunk
        self.test.assertIn(text, shown)


@unittest.skipUnless(CLAUDE, "CLAUDE names no Claude Code to run")
class ClaudeCodeTest(unittest.TestCase):
    def print_mode(self, w, env, key="tarnel"):
        """`claude -p` with vesk-mcp as its MCP server `key` and `approve` as its prompt tool."""
        server = {"command": VESK_MCP, "args": ["--port", str(w.app_port), "--approve-timeout", "60"]}
        config = w.write("mcp.json", {"mcpServers": {key: server}})
        run = subprocess.run([CLAUDE, "-p", "Mark the run", "--mcp-config", config,
                              "--permission-prompt-tool", f"mcp__{key}__approve"], cwd=w.project,
                             env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=LIMIT)
        self.assertEqual(run.returncode, 0, run.stderr)

    def sdk_mode(self, w, hook_timeout):
        """Claude Code in SDK mode with the hook set up, asked for the prompt tool on the SDK's
        own stream, which this side never answers, and for the hooks' events. Ends once the host
        has its result, or once the hook has left the decision to the host: closing the stream
        then makes the host give up. Returns the hook's response and whether the host withdrew
        its request to the SDK side."""
        w.write("home/.claude/settings.json", w.hook_settings(hook_timeout))
        host = subprocess.Popen(
            [CLAUDE, "-p", "--input-format", "stream-json", "--output-format", "stream-json",
             "--verbose", "--include-hook-events", "--permission-prompt-tool", "stdio"],
            cwd=w.project, env=w.claude_env(), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL)
        events, deadline = [], time.monotonic() + LIMIT
        try:
            prompt = {"type": "user", "message": {"role": "user", "content": "Mark the run"}}
            host.stdin.write((json.dumps(prompt) + "\n").encode())
            host.stdin.flush()
            for line in host.stdout:
                event = json.loads(line)
                events.append(event)
                undecided = event.get("subtype") == "hook_response" and not event["stdout"].strip()
                if (event["type"] == "result" or undecided) and not host.stdin.closed:
                    host.stdin.close()
                self.assertLess(time.monotonic(), deadline, "the host did not finish")
            self.assertEqual(host.wait(LIMIT), 0)
        finally:
            if host.poll() is None:
                host.kill()
            host.wait()
            host.stdout.close()
        responses = [event for event in events if event.get("subtype") == "hook_response"]
        self.assertEqual(len(responses), 1, events)
        return responses[0], any(event["type"] == "control_cancel_request" for event in events)

    def test_prompt_tool(self):
        # A server key with "__" in it is found too.
        for (name, chat, behaviour, _), key in zip(OUTCOMES, ("tarnel", "tar__nel", "tarnel", "tarnel")):
            with self.subTest(name), Workspace(self, chat) as w:
                self.print_mode(w, w.claude_env(), key)
                self.assertEqual(w.tool_result().get("is_error", False), behaviour != "allow")
                w.expect(behaviour)

    def test_hook_in_sdk_mode(self):
        for name, chat, behaviour, _ in OUTCOMES:
            with self.subTest(name), Workspace(self, chat) as w:
                hook, withdrawn = self.sdk_mode(w, 60)
                self.assertEqual((hook["exit_code"], hook["outcome"]), (0, "success"), hook)
                output = json.loads(hook["stdout"]) if hook["stdout"].strip() else {}
                decision = output.get("hookSpecificOutput", {}).get("decision")
                if behaviour == "allow":  # no updatedInput: the host runs what it asked about
                    self.assertEqual(output, {"hookSpecificOutput": {
                        "hookEventName": "PermissionRequest", "decision": {"behavior": "allow"}}})
                elif behaviour == "deny":
                    self.assertEqual(decision["behavior"], "deny")
                    self.assertTrue(decision["message"])
                else:
                    self.assertEqual(hook["stdout"], "")
                # The host withdraws its own prompt once the hook has decided, and only then.
                self.assertEqual(withdrawn, behaviour is not None)
                w.expect(behaviour)

    def test_host_that_gives_up_withdraws_the_card(self):
        # The person never answers; the host stops waiting first: the prompt tool's call at
        # MCP_TOOL_TIMEOUT, with a tool error; the hook at its timeout, with SIGTERM.
        for mode in ("prompt tool", "hook"):
            with self.subTest(mode), Workspace(self, None, interactive=True) as w:
                if mode == "hook":
                    hook, withdrawn = self.sdk_mode(w, 2)
                    self.assertEqual((hook["outcome"], withdrawn), ("cancelled", False), hook)
                else:
                    self.print_mode(w, w.claude_env(MCP_TOOL_TIMEOUT="2000"))
                    self.assertIn("timed out", w.tool_result()["content"])
                w.wait_for_sim(b"that question is withdrawn")
                w.expect(None)


@unittest.skipUnless(CODEX and shutil.which("tmux"), "CODEX names no Codex to run, or no tmux")
class CodexTest(unittest.TestCase):
    """Codex asks its PermissionRequest hooks only in its terminal UI, before it shows its own
    dialog; the hook is trusted for the run by --dangerously-bypass-hook-trust."""

    def test_hook_in_terminal_ui(self):
        for name, chat, behaviour, screen in OUTCOMES:
            with self.subTest(name), Workspace(self, chat) as w:
                os.makedirs(w.path("codex"))
                w.write("codex/config.toml", "\n".join((
                    'model = "fake"', 'model_provider = "fake"', 'approval_policy = "on-request"',
                    'sandbox_mode = "read-only"', "[model_providers.fake]", 'name = "fake"',
                    f'base_url = "http://127.0.0.1:{w.model.port}/v1"', 'wire_api = "responses"', "")))
                w.write("codex/hooks.json", w.hook_settings(60))
                env = [f"PATH={os.environ['PATH']}", f"HOME={w.home}", f"CODEX_HOME={w.path('codex')}",
                       f"TMPDIR={w.root}", "TERM=xterm-256color"]
                tmux = ["tmux", "-S", w.path("tmux")]
                subprocess.run([*tmux, "new-session", "-d", "-x", "200", "-y", "50", "-c", w.project,
                                "env", "-i", *env, CODEX, "--disable", "plugins", "--disable",
                                "daemon_auto_start", "--dangerously-bypass-hook-trust", "Mark the run"],
                               check=True)
                try:
                    self.assertIn(screen, self.wait_for_screen(tmux, ("All done.", "Would you like to run")))
                finally:
                    subprocess.run([*tmux, "kill-server"], stderr=subprocess.DEVNULL)
                w.expect(behaviour)

    def wait_for_screen(self, tmux, texts):
        deadline, screen = time.monotonic() + LIMIT, ""
        while time.monotonic() < deadline and not any(text in screen for text in texts):
            time.sleep(0.2)
            screen = subprocess.run([*tmux, "capture-pane", "-p", "-J"], capture_output=True,
                                    text=True).stdout
        return screen


def run_side_by_side():
    """Each test in a process of its own, all at once: a host's run is spent mostly waiting.
    Prints their reports one after the other; fails if one fails."""
    module = unittest.defaultTestLoader.loadTestsFromModule(sys.modules[__name__])
    names = [test.id().split(".", 1)[1] for suite in module for test in suite]
    reports = [tempfile.TemporaryFile() for _ in names]
    runs = [subprocess.Popen([sys.executable, "-B", __file__, name], stdout=report,
                             stderr=subprocess.STDOUT) for name, report in zip(names, reports)]
    for run, report in zip(runs, reports):
        run.wait()
        report.seek(0)
        sys.stdout.buffer.write(report.read())
    return any(run.returncode for run in runs)


if __name__ == "__main__":
    sys.exit(run_side_by_side()) if len(sys.argv) == 1 else unittest.main()
