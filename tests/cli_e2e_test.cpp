// The front end as a user meets it: the help, the version line, unknown commands, the global
// options and the colour rule, run through the real binary.
#include <fstream>
#include <regex>
#include <sstream>

#include <gtest/gtest.h>

#include "support/run_vesk.h"

namespace vesk::test {
namespace {

const std::string kError = "\x1b[31m\x1b[1merror:\x1b[0m ";

std::string goldenHelp() {
  std::ifstream file(VESK_GOLDEN_DIR "/help.txt", std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string withoutEscapes(const std::string& text) {
  return std::regex_replace(text, std::regex("\x1b\\[[0-9]+m"), "");
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(CliTest, HelpIsPrintedForHelpWordsAndLeadingOptions) {
  const std::vector<std::string> lines[] = {
      {},
      {"help"},
      {"HELP"},
      {"--help"},
      {"-h"},
      {"-H"},
      {"--json", "notify", "hi"},
      {"--port", "8080", "notify", "hi"},
      {"-x"},
      {"help", "extra", "--json"},
  };
  const std::string help = goldenHelp();
  for (const auto& args : lines) {
    SCOPED_TRACE(testing::PrintToString(args));
    RunResult run = runVesk(args);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, help);
    EXPECT_EQ(run.err, "");
  }
}

TEST(CliTest, HelpOnATerminalPaintsItsSegments) {
  RunResult run = runVesk({"help"}, Stdout::terminal);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(withoutEscapes(run.out), goldenHelp());
  EXPECT_EQ(count(run.out, "\x1b[0m"), 67u);
  EXPECT_EQ(count(run.out, "\x1b["), 2 * 67u);
  for (const char* painted : {
           "\x1b[1mvesk\x1b[0m — CLI companion for Tarnel\n",
           "\n\x1b[1mGLOBAL OPTIONS:\x1b[0m\n",
           "\n    \x1b[36mnotify\x1b[0m    Send a notification to the notch\n",
           "\n    \x1b[36mcharacters\x1b[0m  List loaded",
           "\n    \x1b[33m--chara\x1b[0m <NAME>     Use a character's",
           "[\x1b[33m--answers\x1b[0m \"A,B,C\"]",
           "[\x1b[33m--image-base64\x1b[0m DATA]",
           "  \x1b[2m(hangman only)\x1b[0m\n",
           "\n    \x1b[2m$\x1b[0m vesk notify \"Hello!\" --chara Vesk\n",
           "\n    Use \x1b[33m--chara\x1b[0m with notify",
           "\n    \x1b[2m# Pipe listen into another command:\x1b[0m\n",
           "\n    vesk <command> [options]\n",
           "\n    vesk game <tic_tac_toe|snake|hangman>\n",
       }) {
    EXPECT_NE(run.out.find(painted), std::string::npos) << testing::PrintToString(painted);
  }
}

TEST(CliTest, VersionLine) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"version"}, {"-v"}, {"--VERSION"}, {"--version", "--json"}}) {
    RunResult run = runVesk(args, Stdout::terminal);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, "vesk 2.0.0\n");
    EXPECT_EQ(run.err, "");
  }
}

TEST(CliTest, UnknownCommandNamesItAndShowsTheHelp) {
  for (Stdout mode : {Stdout::pipe, Stdout::terminal}) {
    RunResult run = runVesk({"Frobnicate", "--json"}, mode);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "unknown command: frobnicate\n");  // plain, even on a terminal
    EXPECT_EQ(withoutEscapes(run.out), goldenHelp());
  }
}

TEST(CliTest, GlobalOptionsAreCheckedBeforeAnyCommand) {
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"help", "--port", "0"}, "error: invalid port: 0\n"},
      {{"version", "--timeout", "0"}, "error: invalid timeout: 0\n"},
      {{"notify", "hi", "--port", "70000", "--timeout", "x"}, "error: invalid port: 70000\n"},
      {{"frobnicate", "--port", "x"}, "error: invalid port: x\n"},
      {{"health", "--port"}, "error: invalid port: true\n"},
      {{"health", "--port", ""}, "error: invalid port: \n"},
      {{"health", "-p", "65536"}, "error: invalid port: 65536\n"},
      {{"health", "--port", "-1"}, "error: invalid port: -1\n"},
      {{"health", "--port", "80.0"}, "error: invalid port: 80.0\n"},
      // "--port" wins over "-p", so the port is fine and the timeout is read next.
      {{"health", "--PORT", "1", "-p", "x", "-t", "nan"}, "error: invalid timeout: nan\n"},
      {{"health", "--timeout", "-1"}, "error: invalid timeout: -1\n"},
      {{"health", "-t", " 5"}, "error: invalid timeout:  5\n"},
      {{"health", "--timeout", "5s"}, "error: invalid timeout: 5s\n"},
      {{"health", "--timeout", "nan"}, "error: invalid timeout: nan\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    RunResult run = runVesk(c.args);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.err);
  }
}

TEST(CliTest, ErrorPrefixIsPaintedWhenStandardOutputIsATerminal) {
  RunResult run = runVesk({"health", "--port", "x"}, Stdout::terminal);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, kError + "invalid port: x\n");
}

}  // namespace
}  // namespace vesk::test
