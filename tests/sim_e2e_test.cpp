// Every vesk command against tarnel-sim, as `make demo` tours them: what vesk printed, and what
// the sim recorded it was sent.
#include <signal.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include "support/run_vesk.h"
#include "support/sim_process.h"

namespace vesk::test {
namespace {

using nlohmann::json;

TEST(SimEndToEndTest, EveryVeskCommandAgainstTheSim) {
  const std::string record = (std::filesystem::temp_directory_path() /
                              ("tarnel-sim-e2e-" + std::to_string(::getpid()) + ".jsonl"))
                                 .string();
  SimProcess sim({"--record", record, "--chat", "pick:3", "--listen", "message:ship it", "--game",
                  "result:agent won"});
  const std::string port = std::to_string(sim.port());
  const struct {
    std::vector<std::string> args;
    std::string out;
    std::string method, path;
    json body;
  } tour[] = {
      {{"health"},
       "● Tarnel is running on port " + port +
           "\n  games: [\"tic_tac_toe\",\"snake\",\"hangman\"]\n",
       "GET",
       "/health",
       nullptr},
      {{"characters"},
       "● Vesk  #7FD6FF\n  faces: neutral, happy, angry, sad, surprised, thinking\n"
       "● Soleth  #F5A623\n  faces: calm, smug, sleepy, laughing\n"
       "● Mirren  #B48CFF\n  faces: curious, cheerful, worried, proud\n",
       "GET",
       "/characters",
       nullptr},
      {{"notify", "Build done", "--name", "CI", "--color", "#00FF00", "--chara", "Vesk", "--face",
        "happy"},
       "✓ notification sent\n",
       "POST",
       "/overlay",
       {{"message", "Build done"},
        {"name", "CI"},
        {"name_color", "#00FF00"},
        {"character", "Vesk"},
        {"face", "happy"}}},
      {{"say", "on it"},
       "✓ message sent\n",
       "POST",
       "/overlay",
       {{"message", "on it"}, {"name", "You"}, {"accent_hex", "#FFFFFF"}}},
      {{"ask", "Deploy?", "--answers", "Yes,No,Rollback", "--chara", "Soleth"},
       "Rollback\n",
       "POST",
       "/chat",
       {{"message", "Deploy?"},
        {"character", "Soleth"},
        {"proposed_answers", {"Yes", "No", "Rollback"}}}},
      {{"listen"}, "ship it\n", "GET", "/listen", nullptr},
      {{"game", "hangman", "--mode", "agent_guesses", "--word", "apple"},
       "agent won\n",
       "POST",
       "/game",
       {{"game", "hangman"}, {"hangman_mode", "agent_guesses"}, {"hangman_word", "apple"}}},
      {{"game", "Tic-Tac-Toe", "--json"},
       "{\"game\":\"tic_tac_toe\",\"result\":\"user won\"}\n",
       "POST",
       "/game",
       {{"game", "tic_tac_toe"}}},
      {{"collapse"}, "✓ card collapsed\n", "POST", "/collapse", json::object()},
      {{"clear"}, "✓ state cleared\n", "POST", "/clear", json::object()},
  };
  for (const auto& step : tour) {
    SCOPED_TRACE(testing::PrintToString(step.args));
    RunResult run = runVesk(sim.vesk(step.args));
    EXPECT_EQ(run.out, step.out);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.exitCode, 0);
  }
  EXPECT_EQ(sim.stop(SIGTERM).exitCode, 0);

  std::ifstream lines(record);
  size_t i = 0;
  for (std::string line; std::getline(lines, line); ++i) {
    ASSERT_LT(i, std::size(tour)) << line;
    json sent = json::parse(line);
    EXPECT_EQ(sent["method"], tour[i].method);
    EXPECT_EQ(sent["path"], tour[i].path);
    EXPECT_EQ(sent["body"], tour[i].body) << line;
  }
  EXPECT_EQ(i, std::size(tour));
  std::filesystem::remove(record);
}

}  // namespace
}  // namespace vesk::test
