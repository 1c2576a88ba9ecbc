#include "cli/args.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

struct ParseCase {
  std::vector<std::string_view> words;  // after the program name
  std::string command;
  std::vector<std::string_view> positional;
  std::map<std::string, std::string_view> flags;
};

// The words are string literals, which outlive the Args that views them.
Args parse(std::vector<std::string_view> words) {
  words.insert(words.begin(), "vesk");
  return Args(words);
}

TEST(ArgsTest, ParsesCommandPositionalAndFlags) {
  const ParseCase cases[] = {
      {{}, "help", {}, {}},
      {{"--json", "notify", "hi"}, "help", {}, {}},
      {{"--port", "8080", "notify", "hi"}, "help", {}, {}},
      {{"--HELP"}, "--help", {}, {}},
      {{"-V"}, "-v", {}, {}},
      {{"Notify", "Hello", "--Name", "CI"}, "notify", {"Hello"}, {{"name", "CI"}}},
      {{"notify", "--json", "hello"}, "notify", {}, {{"json", "hello"}}},
      {{"notify", "hello", "--json"}, "notify", {"hello"}, {{"json", "true"}}},
      {{"notify", "hi", "--json", "-p", "8080"}, "notify", {"hi", "8080"}, {{"json", "-p"}}},
      {{"notify", "a", "--name", "x", "--name", "y"}, "notify", {"a"}, {{"name", "y"}}},
      {{"notify", "--port"}, "notify", {}, {{"port", "true"}}},
      {{"notify", "-5", "hi"}, "notify", {}, {{"5", "hi"}}},
      {{"notify", "-10"}, "notify", {"-10"}, {}},
      {{"notify", "-", "-abc"}, "notify", {"-", "-abc"}, {}},
      {{"notify", "hello", "world"}, "notify", {"hello", "world"}, {}},
      {{"notify", "hi", "--port=9000"}, "notify", {"hi"}, {{"port=9000", "true"}}},
      {{"notify", "--timeout", "-5"}, "notify", {}, {{"timeout", "-5"}}},
      {{"notify", "-t", "-5"}, "notify", {}, {{"t", "true"}, {"5", "true"}}},
      {{"notify", "--", "x"}, "notify", {}, {{"", "x"}}},
      {{"notify", "--a", "--b"}, "notify", {}, {{"a", "true"}, {"b", "true"}}},
      {{"notify", "--name", ""}, "notify", {}, {{"name", ""}}},
      // Characters, not bytes: é is one character, so -é is a short flag.
      {{"notify", "-é", "v"}, "notify", {}, {{"é", "v"}}},
      {{"notify", "-É"}, "notify", {}, {{"é", "true"}}},
      // A dash with a combining mark is one character that is not a dash.
      {{"notify", "-\xcc\x81x"}, "notify", {"-\xcc\x81x"}, {}},
      {{"notify", "--\xcc\x81x"}, "notify", {"--\xcc\x81x"}, {}},
      // Flag emoji: one character of eight bytes.
      {{"notify", "-\xf0\x9f\x87\xab\xf0\x9f\x87\xb7"},
       "notify",
       {},
       {{"\xf0\x9f\x87\xab\xf0\x9f\x87\xb7", "true"}}},
      {{"ÉCLAIR"}, "éclair", {}, {}},
      {{"notify", "--İD", "1"},
       "notify",
       {},
       {{"i\xcc\x87"
         "d",
         "1"}}},
      // Invalid UTF-8 is kept byte for byte.
      {{"notify", "\xff\xfe", "--N\xff", "\xc0"}, "notify", {"\xff\xfe"}, {{"n\xff", "\xc0"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.words));
    Args args = parse(c.words);
    EXPECT_EQ(args.command, c.command);
    EXPECT_EQ(args.positional, c.positional);
    EXPECT_EQ(args.flags, c.flags);
  }
}

TEST(ArgsTest, DerivedValues) {
  Args args = parse({"notify", "hello", "world", "--JSON", "--Name", "CI"});
  EXPECT_TRUE(args.jsonOutput());
  EXPECT_EQ(args.message(), "hello");
  EXPECT_EQ(args.flag("NAME"), "CI");
  EXPECT_EQ(args.flag("title"), std::nullopt);
  EXPECT_EQ(parse({"notify"}).message(), std::nullopt);
  EXPECT_EQ(parse({"health"}).port(), 47037);  // the app's own port; no test connects to it
  for (const char* notTrue : {"false", "yes", "TRUE", ""}) {
    EXPECT_FALSE(parse({"notify", "--json", notTrue}).jsonOutput()) << notTrue;
  }
}

TEST(ArgsTest, PortValues) {
  const std::pair<std::string, std::optional<int>> cases[] = {
      {"47037", 47037}, {"+8080", 8080}, {"08080", 8080},
      {"65535", 65535}, {"1", 1},        {"0", {}},
      {"65536", {}},    {"-1", {}},      {"80.0", {}},
      {"", {}},         {"true", {}},    {" 80", {}},
      {"+", {}},        {"-", {}},       {"99999999999999999999", {}},
      {"+-1", {}},      {"٣", {}},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(parsePort(text), expected) << text;
}

TEST(ArgsTest, TimeoutValues) {
  const std::pair<std::string, std::optional<double>> cases[] = {
      {"0.5", 0.5}, {"300", 300.0}, {"1e2", 100.0}, {"+2", 2.0}, {"0x10", 16.0},
      {"0", {}},    {"-1", {}},     {"nan", {}},    {" 5", {}},  {"\t5", {}},
      {"5s", {}},   {"", {}},       {"5 ", {}},     {"0,5", {}}, {"-inf", {}},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(parseTimeout(text), expected) << text;
  EXPECT_EQ(parseTimeout("inf"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(parseTimeout("1e999"), std::numeric_limits<double>::infinity());
}

}  // namespace
}  // namespace vesk
