// tarnel-sim through its binary: how it judges what it receives, its scripts, forced answers and
// delays, the record, the person at its terminal, its options and how it stops.
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <regex>
#include <sstream>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include "support/http_exchange.h"
#include "support/run_vesk.h"
#include "support/sim_process.h"

namespace vesk::test {
namespace {

using nlohmann::json;
constexpr size_t npos = std::string::npos;

std::string error(const std::string& text) {
  return json{{"error", text}}.dump();
}

std::string tempPath(const std::string& name) {
  return (std::filesystem::temp_directory_path() /
          ("tarnel-sim-test-" + std::to_string(::getpid()) + "-" + name))
      .string();
}

std::string writeFile(const std::string& name, const std::string& text) {
  std::string path = tempPath(name);
  std::ofstream(path) << text;
  return path;
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> all;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) all.push_back(line);
  return all;
}

struct VeskCase {
  std::vector<std::string> args;  // the sim's port is appended
  std::string out;
  std::string err;
  int exitCode = 0;
};

void runAll(const SimProcess& sim, const std::vector<VeskCase>& cases) {
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    RunResult run = runVesk(sim.vesk(c.args));
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.exitCode, c.exitCode);
  }
}

TEST(SimJudgeTest, AnswersWhatItReceivesAsTheAppWould) {
  const std::string ok = R"({"status":"ok"})";
  const std::string notAList = error("\"proposed_answers\" must be a list of texts");
  const struct {
    std::string method, target;
    std::optional<std::string> body;
    int status;
    std::string answer;
    std::string allow;
  } cases[] = {
      {"GET", "/nope", {}, 404, error("no such endpoint: /nope")},
      {"DELETE", "/chat", {}, 405, error("/chat takes POST, not DELETE"), "POST"},
      {"POST", "/health", "{}", 405, error("/health takes GET, not POST"), "GET"},
      {"GET", "/overlay", {}, 405, error("/overlay takes POST, not GET"), "POST"},
      {"POST", "/overlay", "", 400, error("request body is empty: send a JSON object")},
      {"POST", "/overlay", "[1]", 400, error("request body must be a JSON object, not array")},
      {"POST", "/clear", "null", 400, error("request body must be a JSON object, not null")},
      {"POST", "/overlay", "{}", 400, error("\"message\" is missing")},
      {"POST", "/overlay", R"({"message":1})", 400,
       error("\"message\" must be a text, not number")},
      {"POST", "/chat", R"({"message":"q","accent_hex":true})", 400,
       error("\"accent_hex\" must be a text, not boolean")},
      {"POST", "/chat", R"({"message":"q","proposed_answers":"Yes"})", 400, notAList},
      {"POST", "/chat", R"({"message":"q","proposed_answers":["Yes",2]})", 400, notAList},
      {"POST", "/game", "{}", 400,
       error("\"game\" must name a game: tic_tac_toe, snake or hangman")},
      {"POST", "/game", R"({"game":"chess"})", 400,
       error("unknown game 'chess': tic_tac_toe, snake or hangman")},
      {"POST", "/game", R"({"game":"hangman","hangman_mode":"both"})", 400,
       error("unknown hangman_mode 'both': user_guesses or agent_guesses")},
      {"POST", "/overlay", R"({"message":"hi","extra":[1]})", 200, ok},
      {"POST", "/collapse", "{}", 200, ok},
      {"POST", "/clear", R"({"all":true})", 200, ok},
      {"POST", "/game", R"({"game":"snake"})", 200, R"({"game":"snake","result":"user won"})"},
      {"GET", "/listen?since=1", {}, 200, R"({"message":"hello from tarnel-sim"})"},
      {"POST", "/chat", R"({"message":"q"})", 200, R"({"answer":"ok"})"},
  };
  SimProcess sim({});
  for (const auto& c : cases) {
    SCOPED_TRACE(c.method + " " + c.target + " " + c.body.value_or(""));
    HttpAnswer answer = exchange(sim.port(), c.method, c.target, c.body);
    EXPECT_EQ(answer.status, c.status);
    EXPECT_EQ(answer.body, c.answer);
    EXPECT_EQ(answer.headers["content-type"], "application/json");
    EXPECT_EQ(answer.headers["allow"], c.allow);
  }

  // Bytes that are not JSON, or not HTTP at all, are answered too, and the sim serves on.
  const struct {
    std::string bytes;
    int status;
    std::string answerStart;
  } broken[] = {
      {"POST /overlay HTTP/1.1\r\nContent-Length: 8\r\n\r\nnot json", 400,
       R"({"error":"request body is not valid JSON: parse error at line 1, column 2)"},
      {"POST /chat HTTP/1.1\r\nContent-Length: 15\r\n\r\n{\"message\":\"\xff\"}", 400,
       R"({"error":"request body is not valid JSON: parse error)"},
      {"garbage\r\n\r\n", 400, R"({"error":"malformed HTTP request: )"},
      {"POST /overlay HTTP/1.1\r\nContent-Length: 99999999999\r\n\r\n", 413,
       error("request body too large")},
  };
  for (const auto& c : broken) {
    SCOPED_TRACE(testing::PrintToString(c.bytes));
    HttpAnswer answer = exchangeRaw(sim.port(), c.bytes);
    EXPECT_EQ(answer.status, c.status);
    EXPECT_EQ(answer.body.rfind(c.answerStart, 0), 0u) << answer.body;
  }
  EXPECT_EQ(exchange(sim.port(), "GET", "/health").status, 200);
}

TEST(SimJudgeTest, HealthAndCharacters) {
  SimProcess sim({});
  json health = json::parse(exchange(sim.port(), "GET", "/health").body);
  EXPECT_EQ(health["port"], sim.port());
  EXPECT_EQ(health["games"], json({"tic_tac_toe", "snake", "hangman"}));

  json characters = json::parse(exchange(sim.port(), "GET", "/characters").body);
  ASSERT_EQ(characters.size(), 3u);
  for (const auto& [i, name] : {std::pair{0, "Vesk"}, {1, "Soleth"}, {2, "Mirren"}}) {
    const json& character = characters[i];
    EXPECT_EQ(character["name"], name);
    EXPECT_TRUE(
        std::regex_match(character["accent_hex"].get<std::string>(), std::regex("#[0-9A-F]{6}")));
    EXPECT_GE(character["faces"].size(), 3u);
  }
  const auto& veskFaces = characters[0]["faces"];
  for (const char* face : {"happy", "angry"}) {
    EXPECT_NE(std::find(veskFaces.begin(), veskFaces.end(), face), veskFaces.end()) << face;
  }

  const std::string catalogue = R"([{"name":"Ada","accent_hex":"#123456","faces":["calm"]}])";
  SimProcess custom({"--characters", writeFile("characters.json", catalogue)});
  EXPECT_EQ(json::parse(exchange(custom.port(), "GET", "/characters").body),
            json::parse(catalogue));
}

TEST(SimScriptTest, QueuesAnswerInOrderThenDefaultsTakeOver) {
  SimProcess sim({"--chat", "answer:Ship it", "--chat",   "pick:2",           "--chat",
                  "pick:3", "--chat",         "dismiss",  "--chat",           "timeout:0.01",
                  "--chat", "answer:a:b",     "--listen", "message:hi there", "--listen",
                  "cancel", "--listen",       "timeout",  "--game",           "result:agent won",
                  "--game", "timeout:0.01"});
  const std::string dismissed = "warning: user dismissed without answering\n";
  const std::vector<std::string> yesNo = {"ask", "Deploy?", "--answers", "Yes,No"};
  runAll(sim, {
                  {yesNo, "Ship it\n"},
                  {yesNo, "No\n"},
                  {yesNo, "", dismissed},  // pick:3 of two answers
                  {yesNo, "", dismissed},
                  {{"ask", "Deploy?"},
                   "",
                   "error: request timed out — the user did not answer in time\n",
                   1},
                  {{"ask", "Deploy?"}, "a:b\n"},
                  {yesNo, "Yes\n"},  // the queue is empty: the defaults answer
                  {{"ask", "Deploy?", "--json"}, "{\"answer\":\"ok\"}\n"},
                  {{"listen"}, "hi there\n"},
                  {{"listen"}, "", "warning: compose was cancelled — no message\n"},
                  {{"listen"}, "", "error: request timed out — no message was composed\n", 1},
                  {{"listen"}, "hello from tarnel-sim\n"},
                  {{"game", "snake"}, "agent won\n"},
                  {{"game", "hangman"}, "", "error: game timed out\n", 1},
                  {{"game", "tic_tac_toe"}, "user won\n"},
              });
}

TEST(SimScriptTest, ForcedAnswersAndDelays) {
  SimProcess sim({"--force", R"(/overlay=503:{"error":"busy"})", "--force", "/health=500",
                  "--force", "/collapse=200:done", "--force", "/extra=201", "--force", "/clear=204",
                  "--delay", "/listen=60", "--delay", "/collapse=0.05", "--chat", "timeout:60"});
  runAll(sim, {
                  {{"notify", "hi"}, "", "error: server returned 503: {\"error\":\"busy\"}\n", 1},
                  {{"health"},
                   "",
                   "error: unexpected response (500): " + error("forced by --force") + "\n",
                   1},
                  {{"collapse", "--json"}, "done\n"},
                  {{"clear"}, "", "error: server returned 204: \n", 1},
                  // Held past vesk's own deadline: vesk gives up, and the sim drops the answer.
                  {{"listen", "--timeout", "0.3"}, "", "error: request timed out after 0s\n", 1},
                  {{"ask", "q", "--timeout", "0.3"}, "", "error: request timed out after 0s\n", 1},
                  {{"ask", "q"}, "ok\n"},  // the timeout was spent on the question vesk gave up
              });
  HttpAnswer forced = exchange(sim.port(), "PUT", "/extra");  // a forced path needs no endpoint
  EXPECT_EQ(forced.status, 201);
  EXPECT_EQ(exchange(sim.port(), "POST", "/collapse", "{}").headers["content-type"],
            "text/plain; charset=utf-8");

  RunResult stopped = sim.stop(SIGTERM);
  EXPECT_NE(stopped.err.find("tarnel-sim: GET /listen: the client hung up before the answer\n"),
            npos);
  EXPECT_NE(stopped.err.find("tarnel-sim: POST /chat: the client hung up before the answer\n"),
            npos);
  EXPECT_NE(stopped.err.find("tarnel-sim: PUT /extra 201\n"), npos);
}

TEST(SimRecordTest, EveryRequestIsOneJsonLine) {
  const std::string file = tempPath("record.jsonl");
  SimProcess sim({"--record", file, "--quiet"});
  EXPECT_EQ(runVesk(sim.vesk({"notify", "Build done", "--chara", "Vesk"})).exitCode, 0);
  EXPECT_EQ(runVesk(sim.vesk({"health"})).exitCode, 0);
  exchange(sim.port(), "POST", "/overlay?via=curl", "not json");
  exchange(sim.port(), "GET", "/nope");
  RunResult stopped = sim.stop(SIGTERM);
  EXPECT_EQ(stopped.exitCode, 0);
  EXPECT_EQ(stopped.out, "");
  EXPECT_EQ(stopped.err.find(" 200\n"), npos);  // --quiet: no line per request

  std::ifstream recorded(file);
  std::stringstream text;
  text << recorded.rdbuf();
  const json expected[] = {
      {{"method", "POST"},
       {"path", "/overlay"},
       {"body", {{"character", "Vesk"}, {"message", "Build done"}}}},
      {{"method", "GET"}, {"path", "/health"}, {"body", nullptr}},
      {{"method", "POST"}, {"path", "/overlay?via=curl"}, {"body", "not json"}},
      {{"method", "GET"}, {"path", "/nope"}, {"body", nullptr}},
  };
  auto all = lines(text.str());
  ASSERT_EQ(all.size(), std::size(expected)) << text.str();
  for (size_t i = 0; i < all.size(); ++i) {
    EXPECT_EQ(all[i].rfind("{\"time\":\"", 0), 0u) << all[i];  // time first, for people reading
    json line = json::parse(all[i]);
    EXPECT_TRUE(std::regex_match(line["time"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")));
    line.erase("time");
    EXPECT_EQ(line, expected[i]);
  }

  SimProcess toStdout({"--record", "-"});
  EXPECT_EQ(runVesk(toStdout.vesk({"clear"})).exitCode, 0);
  auto out = lines(toStdout.stop(SIGTERM).out);
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(json::parse(out[0])["body"], json::object());
}

TEST(SimLifecycleTest, MaxRequestsEndsTheRunOnceTheyAreAnswered) {
  SimProcess sim({"--max-requests", "2", "--chat", "timeout:0.05"});
  runAll(sim,
         {
             {{"collapse"}, "✓ card collapsed\n"},
             {{"ask", "q"}, "", "error: request timed out — the user did not answer in time\n", 1},
         });
  RunResult ended = sim.wait();
  EXPECT_EQ(ended.exitCode, 0);
  EXPECT_NE(ended.err.find("tarnel-sim: stopped: answered 2 requests\n"), npos) << ended.err;
  EXPECT_EQ(runVesk(sim.vesk({"health"})).exitCode, 1);  // nothing listens any more
}

TEST(SimLifecycleTest, SignalsStopItCleanlyWhileAQuestionIsOpen) {
  for (const auto& [signal, name] : {std::pair{SIGINT, "SIGINT"}, {SIGTERM, "SIGTERM"}}) {
    SCOPED_TRACE(name);
    SimProcess sim({"--record", "-", "--chat", "timeout:600"});
    auto asked = std::async(std::launch::async, [&] { return runVesk(sim.vesk({"ask", "q"})); });
    ASSERT_TRUE(sim.waitForOutput("\"path\":\"/chat\""));
    RunResult stopped = sim.stop(signal);
    EXPECT_EQ(stopped.signal, 0);
    EXPECT_EQ(stopped.exitCode, 0);
    EXPECT_NE(stopped.err.find(std::string("tarnel-sim: stopped: ") + name + "\n"), npos);
    EXPECT_EQ(asked.get().exitCode, 1);  // the app went away before answering
  }
}

TEST(SimOptionsTest, MistakesAreNamedAndEndTheRun) {
  const std::string badCatalogue = writeFile("bad.json", R"([{"name":"X","faces":["a"]}])");
  const std::string chatForms = "(answer:TEXT, pick:N, dismiss, timeout[:SECS])";
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"--port", "x"}, "--port: invalid port 'x' (0-65535)"},
      {{"-p", "65536"}, "--port: invalid port '65536' (0-65535)"},
      {{"--chat", "yes"}, "--chat: unknown answer 'yes' " + chatForms},
      {{"--chat=pick:0"}, "--chat: unknown answer 'pick:0' " + chatForms},
      {{"--chat", "dismiss:now"}, "--chat: unknown answer 'dismiss:now' " + chatForms},
      {{"--listen", "answer:hi"},
       "--listen: unknown answer 'answer:hi' (message:TEXT, cancel, timeout[:SECS])"},
      {{"--game", "timeout:-1"},
       "--game: unknown answer 'timeout:-1' (result:TEXT, timeout[:SECS])"},
      {{"--delay", "chat=1"}, "--delay: expected PATH=SECS, got 'chat=1'"},
      {{"--delay", "/chat=soon"}, "--delay: invalid seconds 'soon'"},
      {{"--force", "/chat=99"}, "--force: the status must be a number from 200 to 599, got '99'"},
      {{"--max-requests", "0"}, "--max-requests: expected a whole number above 0, got '0'"},
      {{"--record"}, "--record needs a value"},
      {{"--quiet=yes"}, "--quiet takes no value"},
      {{"--frobnicate"}, "unknown option '--frobnicate' (see tarnel-sim --help)"},
      {{"-i", "--record", "-"},
       "--record - and --interactive both use standard output: record to a file instead"},
      {{"--characters", "/nonexistent/c.json"}, "cannot read /nonexistent/c.json"},
      {{"--characters", badCatalogue}, badCatalogue + ": character 1 needs an \"accent_hex\" text"},
      {{"--record", "/nonexistent/r.jsonl"}, "cannot write the record to /nonexistent/r.jsonl"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    RunResult run = SimProcess(c.args, SimProcess::Await::nothing).wait();
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "tarnel-sim: error: " + c.err + "\n");
  }

  SimProcess first({});
  const std::string taken = std::to_string(first.port());
  RunResult second = SimProcess({"--port", taken}, SimProcess::Await::nothing).wait();
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_EQ(second.err.rfind("tarnel-sim: error: cannot listen on 127.0.0.1:" + taken + ": ", 0),
            0u);

  RunResult help = SimProcess({"--help"}, SimProcess::Await::nothing).wait();
  EXPECT_EQ(help.exitCode, 0);
  for (const char* option :
       {"--port", "--port-file", "--chat", "--listen", "--game", "--delay", "--force",
        "--characters", "--record", "--interactive", "--max-requests", "--quiet", "--version"}) {
    EXPECT_NE(help.out.find(std::string(" ") + option + " "), npos) << option;
  }
  EXPECT_EQ(SimProcess({"--version"}, SimProcess::Await::nothing).wait().out, "tarnel-sim 2.0.0\n");
}

TEST(SimInteractiveTest, APersonAnswersFromTheTerminal) {
  const struct {
    std::vector<std::string> args;
    std::string typed;
    std::string out;
    std::string err;
  } turns[] = {
      {{"ask", "Deploy?", "--answers", "Yes,No,Rollback", "--chara", "Soleth"}, "2\n", "No\n"},
      {{"ask", "Name?", "--answers", "Ada"}, "  Grace Hopper \n", "Grace Hopper\n"},
      {{"ask", "Deploy?"}, "\n", "", "warning: user dismissed without answering\n"},
      {{"listen"}, "hello there\n", "hello there\n"},
      {{"listen"}, "\n", "", "warning: compose was cancelled — no message\n"},
      {{"game", "hangman", "--word", "apple"}, "agent won\n", "agent won\n"},
      {{"game", "snake"}, "\n", "user won\n"},
  };
  SimProcess sim({"--interactive"});
  size_t prompts = 0;
  for (const auto& turn : turns) {
    SCOPED_TRACE(testing::PrintToString(turn.args));
    auto asked = std::async(std::launch::async, [&] { return runVesk(sim.vesk(turn.args)); });
    ASSERT_TRUE(sim.waitForOutput("\n> ", ++prompts));
    sim.type(turn.typed);
    RunResult run = asked.get();
    EXPECT_EQ(run.out, turn.out);
    EXPECT_EQ(run.err, turn.err);
    EXPECT_EQ(run.exitCode, 0);
  }

  runAll(sim, {
                  {{"notify", "Build done", "--name", "CI", "--title", "main", "--chara", "Vesk",
                    "--face", "happy"},
                   "✓ notification sent\n"},
                  // vesk gives up: the question leaves the terminal.
                  {{"ask", "Still there?", "--timeout", "0.3"},
                   "",
                   "error: request timed out after 0s\n",
                   1},
              });
  ASSERT_TRUE(sim.waitForOutput("that question is withdrawn"));
  sim.closeInput();
  ASSERT_TRUE(sim.waitForOutput("standard input closed"));
  runAll(sim, {{{"ask", "Deploy?", "--answers", "A,B"}, "A\n"}});

  RunResult stopped = sim.stop(SIGTERM);
  EXPECT_EQ(stopped.exitCode, 0);
  for (const char* shown :
       {"│ Soleth\n│ Deploy?\n│ Soleth · calm\n│   1) Yes  2) No  3) Rollback\n╰─\n",
        "answer: a number picks, other text is the answer, an empty line dismisses\n",
        "→ 200 {\"answer\":\"No\"}\n", "compose: type a message", "│ game: hangman · word: apple\n",
        "→ 200 {\"cancelled\":true}\n", "│ CI · main\n│ Build done\n│ Vesk · happy\n╰─\n"}) {
    EXPECT_NE(stopped.out.find(shown), npos) << shown << "\nin:\n" << stopped.out;
  }
}

}  // namespace
}  // namespace vesk::test
