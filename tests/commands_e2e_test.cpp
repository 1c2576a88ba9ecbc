// Every command against a loopback server: the request it sent, what it printed on each stream
// and its exit status.
#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include "support/loopback_server.h"
#include "support/run_vesk.h"

namespace vesk::test {
namespace {

constexpr const char* kNothingSent = "";

struct CommandCase {
  std::vector<std::string> args;  // "--port <server>" is appended
  Reply reply;
  std::string method;  // kNothingSent when the run must not reach the app
  std::string target;
  std::string body;  // JSON compared by value; empty for a GET
  std::string out;
  std::string err;
  int exitCode = 0;
  Stdout mode = Stdout::pipe;
};

void check(const CommandCase& c) {
  SCOPED_TRACE(testing::PrintToString(c.args));
  LoopbackServer server(c.reply);
  std::vector<std::string> args = c.args;
  args.insert(args.end(), {"--port", std::to_string(server.port())});
  RunResult run = runVesk(args, c.mode);

  EXPECT_EQ(run.out, c.out);
  EXPECT_EQ(run.err, c.err);
  EXPECT_EQ(run.exitCode, c.exitCode);
  auto requests = server.requests();
  if (c.method.empty()) {
    EXPECT_TRUE(requests.empty());
    return;
  }
  ASSERT_EQ(requests.size(), 1u);
  const ReceivedRequest& sent = requests.front();
  EXPECT_EQ(sent.method, c.method);
  EXPECT_EQ(sent.target, c.target);
  if (c.method == "GET") {
    EXPECT_EQ(sent.body, "");
    EXPECT_FALSE(sent.hasHeader("content-type"));
  } else {
    EXPECT_EQ(sent.headers.count("content-type") ? sent.headers.at("content-type") : "",
              "application/json");
    ASSERT_TRUE(nlohmann::json::accept(sent.body)) << sent.body;
    EXPECT_EQ(nlohmann::json::parse(sent.body), nlohmann::json::parse(c.body)) << sent.body;
  }
}

void checkAll(const std::vector<CommandCase>& cases) {
  for (const auto& c : cases) check(c);
}

Reply ok(std::string body = "") {
  return respond(200, std::move(body));
}

const std::string kUsageNotify =
    "error: notify requires a message.\n\n"
    "Usage: vesk notify \"message\" [--name NAME] [--color HEX] [--accent HEX]\n";
const std::string kUsageSay =
    "error: say requires a message.\n\nUsage: vesk say \"message\" [--name NAME] [--accent HEX]\n";
const std::string kUsageAsk =
    "error: ask requires a message.\n\n"
    "Usage: vesk ask \"question\" [--answers \"Yes,No\"] [--name NAME] [--color HEX]\n";
const std::string kUsageGame =
    "error: game requires a game type.\n\nUsage: vesk game <tic_tac_toe|snake|hangman> "
    "[--mode MODE] [--word WORD] [--accent HEX]\n";

// The case tables read best one case to a line or two, as a table would.
// clang-format off

TEST(NotifyTest, SendsMessageAndPresentationOptions) {
  checkAll({
      {{"notify", "Build done", "--name", "CI", "--color", "#00FF00"}, ok(), "POST", "/overlay",
       R"({"message":"Build done","name":"CI","name_color":"#00FF00"})", "✓ notification sent\n"},
      {{"n", "hi", "--name", "N", "--color", "red", "--accent", "#12", "--title", "T", "--image-url",
        "http://x/y.png", "--image-base64", "AAAA", "--chara", "Vesk", "--face", "happy"},
       ok(), "POST", "/overlay",
       R"({"message":"hi","name":"N","name_color":"red","accent_hex":"#12","title":"T",
           "image_url":"http://x/y.png","image_base64":"AAAA","character":"Vesk","face":"happy"})",
       "✓ notification sent\n"},
      {{"NOTIFY", "Hello", "world", "--NAME", "CI", "--answers", "a,b", "--mode", "m"}, ok(), "POST",
       "/overlay", R"({"message":"Hello","name":"CI"})", "✓ notification sent\n"},
      {{"notify", "", "--name", "X", "--title"}, ok(), "POST", "/overlay",
       R"({"message":"","name":"X","title":"true"})", "✓ notification sent\n"},
      {{"notify", "hi"}, ok(), "POST", "/overlay", R"({"message":"hi"})",
       "\x1b[32m✓\x1b[0m notification sent\n", "", 0, Stdout::terminal},
      {{"notify", "hi", "--json"}, ok("not json"), "POST", "/overlay", R"({"message":"hi"})", "not json\n"},
      {{"notify", "hi", "--json"}, ok(), "POST", "/overlay", R"({"message":"hi"})", "\n"},
      {{"notify", "hi"}, respond(201, "created"), "POST", "/overlay", R"({"message":"hi"})", "",
       "error: server returned 201: created\n", 1},
      {{"notify", "hi", "--json"}, respond(204, ""), "POST", "/overlay", R"({"message":"hi"})", "",
       "error: server returned 204: \n", 1},
      {{"notify", "--json", "--name", "X"}, ok(), kNothingSent, "", "", "", kUsageNotify, 1},
  });
}

TEST(SayTest, SpeaksAsTheUserWithDefaults) {
  const std::string defaults = R"("name":"You","accent_hex":"#FFFFFF")";
  checkAll({
      {{"say", "remind me to review the PR at 5pm"}, ok(), "POST", "/overlay",
       R"({"message":"remind me to review the PR at 5pm",)" + defaults + "}", "✓ message sent\n"},
      {{"s", "hi", "--name", "Soleth", "--accent", "#00FF00"}, ok(), "POST", "/overlay",
       R"({"message":"hi","name":"Soleth","accent_hex":"#00FF00"})", "✓ message sent\n"},
      {{"say", "hi", "--color", "#0F0", "--chara", "Vesk", "--face", "happy", "--title", "T",
        "--image-url", "U", "--image-base64", "B"}, ok(), "POST", "/overlay",
       R"({"message":"hi","name_color":"#0F0","character":"Vesk","face":"happy",)" + defaults + "}",
       "✓ message sent\n"},
      {{"say", "hi", "--name", "", "--accent", ""}, ok(), "POST", "/overlay",
       R"({"message":"hi","name":"","accent_hex":""})", "✓ message sent\n"},
      {{"say", "hi"}, ok(), "POST", "/overlay", R"({"message":"hi",)" + defaults + "}",
       "\x1b[32m✓\x1b[0m message sent\n", "", 0, Stdout::terminal},
      {{"say", "hi"}, respond(500, "boom"), "POST", "/overlay", R"({"message":"hi",)" + defaults + "}",
       "", "error: server returned 500: boom\n", 1},
      {{"say"}, ok(), kNothingSent, "", "", "", kUsageSay, 1},
  });
}

TEST(AskTest, SendsProposedAnswersAndPrintsTheAnswerAlone) {
  const std::string q = R"("message":"Deploy?")";
  checkAll({
      {{"ask", "Deploy?", "--answers", "Yes,No,Rollback"}, ok(R"({"answer":"No"})"), "POST", "/chat",
       "{" + q + R"(,"proposed_answers":["Yes","No","Rollback"]})", "No\n"},
      {{"a", "Deploy?", "--answers", " Yes , No "}, ok(R"({"answer":"Yes"})"), "POST", "/chat",
       "{" + q + R"(,"proposed_answers":["Yes","No"]})", "Yes\n"},
      {{"ask", "Deploy?", "--answers", "Yes,,No,"}, ok(R"({"answer":"Yes"})"), "POST", "/chat",
       "{" + q + R"(,"proposed_answers":["Yes","No"]})", "Yes\n"},
      {{"ask", "Deploy?", "--answers", "\tA\t,\xc2\xa0" "B,C\n,Yes,Yes"}, ok(R"({"answer":"A"})"), "POST",
       "/chat", "{" + q + R"(,"proposed_answers":["A","B","C\n","Yes","Yes"]})", "A\n"},
      {{"ask", "Deploy?", "--answers", " , "}, ok(R"({"answer":"x"})"), "POST", "/chat", "{" + q + "}", "x\n"},
      {{"ask", "Deploy?", "--answers", ""}, ok(R"({"answer":"x"})"), "POST", "/chat", "{" + q + "}", "x\n"},
      {{"ask", "Deploy?", "--name", "CI", "--title", "T", "--answers"}, ok(R"({"answer":"x"})"), "POST",
       "/chat", "{" + q + R"(,"name":"CI","title":"T","proposed_answers":["true"]})", "x\n"},
      {{"ask", "Deploy?"}, ok(R"({"answer":42,"extra":true})"), "POST", "/chat", "{" + q + "}", "42\n"},
      {{"ask", "Deploy?", "--json"}, ok(R"({"answer":"Yes"})"), "POST", "/chat", "{" + q + "}",
       "{\"answer\":\"Yes\"}\n"},
      {{"ask", "Deploy?"}, ok(R"({"answer":"Yes"})"), "POST", "/chat", "{" + q + "}", "Yes\n", "", 0,
       Stdout::terminal},
  });
}

TEST(AskTest, DismissalsWarnAndTimeoutsFail) {
  const std::string body = R"({"message":"Deploy?"})";
  const std::string dismissed = "warning: user dismissed without answering\n";
  checkAll({
      {{"ask", "Deploy?"}, ok("{}"), "POST", "/chat", body, "", dismissed},
      {{"ask", "Deploy?"}, ok(R"({"answer":""})"), "POST", "/chat", body, "", dismissed},
      {{"ask", "Deploy?"}, ok(R"({"answer":null})"), "POST", "/chat", body, "", dismissed},
      {{"ask", "Deploy?"}, ok("[\"Yes\"]"), "POST", "/chat", body, "", dismissed},
      {{"ask", "Deploy?"}, ok("no"), "POST", "/chat", body, "", dismissed},
      {{"ask", "Deploy?"}, ok("{}"), "POST", "/chat", body, "",
       "\x1b[33m\x1b[1mwarning:\x1b[0m user dismissed without answering\n", 0, Stdout::terminal},
      {{"ask", "Deploy?", "--json"}, respond(408, "late"), "POST", "/chat", body, "",
       "error: request timed out — the user did not answer in time\n", 1},
      {{"ask", "Deploy?"}, respond(500, "oops"), "POST", "/chat", body, "",
       "error: server returned 500: oops\n", 1},
      {{"ask", "--answers", "Yes,No"}, ok(), kNothingSent, "", "", "", kUsageAsk, 1},
  });
}

TEST(ListenTest, PrintsTheComposedMessage) {
  const std::string cancelled = "warning: compose was cancelled — no message\n";
  checkAll({
      {{"listen"}, ok(R"({"message":"hello\nworld"})"), "GET", "/listen", "", "hello\nworld\n"},
      {{"l", "something", "--name", "x"}, ok(R"({"message":7})"), "GET", "/listen", "", "7\n"},
      {{"listen"}, ok(R"({"message":""})"), "GET", "/listen", "", "", cancelled},
      {{"listen"}, ok("{}"), "GET", "/listen", "", "", cancelled},
      {{"listen"}, ok(R"({"message":null})"), "GET", "/listen", "", "", cancelled},
      {{"listen"}, ok("plain text"), "GET", "/listen", "", "", cancelled},
      {{"listen", "--json"}, ok(R"({"message":""})"), "GET", "/listen", "", "{\"message\":\"\"}\n"},
      {{"listen"}, respond(408, ""), "GET", "/listen", "", "",
       "error: request timed out — no message was composed\n", 1},
      {{"listen"}, respond(500, "down"), "GET", "/listen", "", "", "error: server returned 500: down\n", 1},
  });
}

TEST(GameTest, NormalisesTheGameAndSendsItsOptions) {
  checkAll({
      {{"game", "Tic-Tac-Toe"}, ok(R"({"result":"user won"})"), "POST", "/game",
       R"({"game":"tic_tac_toe"})", "user won\n"},
      {{"g", "SNAKE", "extra", "--word", "w", "--mode", "m", "--accent", "#1", "--chara", "V", "--face",
        "f", "--name", "N", "--color", "C", "--title", "T"}, ok(R"({"result":{"score":12}})"), "POST",
       "/game", R"({"game":"snake","accent_hex":"#1","character":"V","face":"f"})", "{\"score\":12}\n"},
      {{"game", "hangman", "--mode", "agent_guesses", "--word", "apple"}, ok(R"({"result":true})"),
       "POST", "/game", R"({"game":"hangman","hangman_mode":"agent_guesses","hangman_word":"apple"})",
       "1\n"},
      {{"game", "HANG-MAN"}, ok(R"({"result":"x"})"), kNothingSent, "", "", "",
       "error: unknown game 'HANG-MAN'. Valid games: tic_tac_toe, snake, hangman\n", 1},
      {{"game", "hangman"}, ok(R"({"result":null,"moves":3})"), "POST", "/game", R"({"game":"hangman"})",
       "{\"result\":null,\"moves\":3}\n"},
      {{"game", "snake"}, ok("game over"), "POST", "/game", R"({"game":"snake"})", "game over\n"},
      {{"game", "snake", "--json"}, ok(R"({"result":"lost"})"), "POST", "/game", R"({"game":"snake"})",
       "{\"result\":\"lost\"}\n"},
      {{"game", "snake"}, respond(408, ""), "POST", "/game", R"({"game":"snake"})", "",
       "error: game timed out\n", 1},
      {{"game", "snake"}, respond(503, "busy"), "POST", "/game", R"({"game":"snake"})", "",
       "error: server returned 503: busy\n", 1},
  });
}

TEST(GameTest, RejectsWhatIsNotAGame) {
  const std::string valid = "'. Valid games: tic_tac_toe, snake, hangman\n";
  checkAll({
      {{"game"}, ok(), kNothingSent, "", "", "", kUsageGame, 1},
      {{"game", "--word", "x"}, ok(), kNothingSent, "", "", "", kUsageGame, 1},
      {{"game", "Chess"}, ok(), kNothingSent, "", "", "", "error: unknown game 'Chess" + valid, 1},
      {{"game", "Tic-Tac-Tic"}, ok(), kNothingSent, "", "", "", "error: unknown game 'Tic-Tac-Tic" + valid, 1},
      {{"game", " snake"}, ok(), kNothingSent, "", "", "", "error: unknown game ' snake" + valid, 1},
  });
}

TEST(HealthTest, ReportsPortAndGames) {
  const std::string running = "● Tarnel is running on port ";
  checkAll({
      {{"health"}, ok(R"({"port":47037,"games":["snake","hangman"]})"), "GET", "/health", "",
       running + "47037\n  games: [\"snake\",\"hangman\"]\n"},
      {{"ping", "extra", "--name", "x"}, ok(R"({"port":"47037","games":"all"})"), "GET", "/health", "",
       running + "47037\n  games: all\n"},
      {{"health"}, ok("{}"), "GET", "/health", "", running + "?\n  games: []\n"},
      {{"health"}, ok(""), "GET", "/health", "", running + "?\n  games: []\n"},
      {{"health"}, ok("up"), "GET", "/health", "", running + "?\n  games: []\n"},
      {{"health"}, ok(R"({"port":true,"games":null})"), "GET", "/health", "", running + "1\n  games: []\n"},
      {{"health"}, ok(R"({"port":47037,"games":["snake"]})"), "GET", "/health", "",
       "\x1b[32m●\x1b[0m Tarnel is running on port \x1b[1m47037\x1b[0m\n\x1b[2m  games:\x1b[0m [\"snake\"]\n",
       "", 0, Stdout::terminal},
      {{"health", "--json"}, ok(R"({"port":1})"), "GET", "/health", "", "{\"port\":1}\n"},
      {{"health", "--json"}, respond(503, "starting"), "GET", "/health", "", "",
       "error: unexpected response (503): starting\n", 1},
  });
}

TEST(CollapseClearTest, PostTheEmptyObject) {
  for (const auto& [word, phrase] :
       {std::pair{"collapse", "card collapsed"}, std::pair{"clear", "state cleared"}}) {
    const std::string target = std::string("/") + word;
    const std::string done = std::string("✓ ") + phrase + "\n";
    checkAll({
        {{word}, ok(), "POST", target, "{}", done},
        {{word, "extra", "words", "--name", "X"}, ok("whatever"), "POST", target, "{}", done},
        {{word}, ok(), "POST", target, "{}", std::string("\x1b[32m✓\x1b[0m ") + phrase + "\n", "", 0,
         Stdout::terminal},
        {{word, "--json"}, ok(), "POST", target, "{}", "\n"},
        {{word}, respond(204, ""), "POST", target, "{}", "", "error: server returned 204: \n", 1},
        {{word}, respond(404, "no such endpoint"), "POST", target, "{}", "",
         "error: server returned 404: no such endpoint\n", 1},
    });
  }
}

TEST(CollapseClearTest, EmptyObjectIsExactlyTwoBytes) {
  LoopbackServer server(ok());
  runVesk({"collapse", "--port", std::to_string(server.port())});
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_EQ(server.requests()[0].body, "{}");
}

TEST(CharactersTest, ListsCharactersAndTheirFaces) {
  const std::string list = R"([{"name":"Vesk","accent_hex":"#00FF00","faces":["happy","angry"]},
                               {"name":"Soleth","faces":[]},
                               {"name":12,"accent_hex":"not a colour","faces":["a",1]},
                               {"accent_hex":"#123456","faces":["", "b"],"extra":true}])";
  checkAll({
      {{"characters"}, ok(list), "GET", "/characters", "",
       "● Vesk  #00FF00\n  faces: happy, angry\n● Soleth  #7FD6FF\n  faces: (no faces)\n"
       "● ?  not a colour\n  faces: (no faces)\n● ?  #123456\n  faces: , b\n"},
      {{"chars"}, ok(list), "GET", "/characters", "",
       "\x1b[36m●\x1b[0m \x1b[1mVesk\x1b[0m  \x1b[2m#00FF00\x1b[0m\n  faces: happy, angry\n"
       "\x1b[36m●\x1b[0m \x1b[1mSoleth\x1b[0m  \x1b[2m#7FD6FF\x1b[0m\n  faces: \x1b[2m(no faces)\x1b[0m\n"
       "\x1b[36m●\x1b[0m \x1b[1m?\x1b[0m  \x1b[2mnot a colour\x1b[0m\n  faces: \x1b[2m(no faces)\x1b[0m\n"
       "\x1b[36m●\x1b[0m \x1b[1m?\x1b[0m  \x1b[2m#123456\x1b[0m\n  faces: , b\n", "", 0, Stdout::terminal},
      {{"c"}, ok("[]"), "GET", "/characters", "", "No characters loaded.\n"},
      {{"c"}, ok("[]"), "GET", "/characters", "", "\x1b[2mNo characters loaded.\x1b[0m\n", "", 0,
       Stdout::terminal},
      {{"characters", "--json"}, ok("[]"), "GET", "/characters", "", "[]\n"},
      {{"characters"}, ok(R"({"characters":[]})"), "GET", "/characters", "", "{\"characters\":[]}\n"},
      {{"characters"}, ok(R"([{"name":"A"},"B"])"), "GET", "/characters", "", "[{\"name\":\"A\"},\"B\"]\n"},
      {{"characters"}, ok("not json"), "GET", "/characters", "", "not json\n"},
      {{"characters"}, respond(408, "slow"), "GET", "/characters", "", "", "error: server returned 408: slow\n", 1},
  });
}

TEST(EncodingTest, ValuesThatAreNotUtf8AreNeverSent) {
  const std::string refused = "error: failed to encode JSON body\n";
  checkAll({
      {{"notify", "caf\xe9"}, ok(), kNothingSent, "", "", "", refused, 1},
      {{"ask", "q", "--answers", "a,\xff"}, ok(), kNothingSent, "", "", "", refused, 1},
      {{"say", "hi", "--name", "\xc0\x80"}, ok(), kNothingSent, "", "", "", refused, 1},
      {{"game", "hangman", "--word", "\xed\xa0\x80"}, ok(), kNothingSent, "", "", "", refused, 1},
      // Valid UTF-8 of every kind goes through unchanged.
      {{"notify", "é — ⌘⇧K \xf0\x9f\x98\x80 \"quoted\" \\ \t\n"}, ok(), "POST", "/overlay",
       R"({"message":"é — ⌘⇧K 😀 \"quoted\" \\ \t\n"})", "✓ notification sent\n"},
  });
}

// clang-format on

}  // namespace
}  // namespace vesk::test
