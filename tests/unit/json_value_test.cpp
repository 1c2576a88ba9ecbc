#include "client/json_value.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(JsonValueTest, ValuesAsText) {
  const struct {
    std::string text, key;
    std::optional<std::string> expected;
  } cases[] = {
      {R"({"port":47037})", "port", "47037"},
      {R"({"port":47037})", "Port", std::nullopt},
      {R"({"port":-12})", "port", "-12"},
      {R"({"answer":1.5})", "answer", "1.5"},
      {R"({"answer":true})", "answer", "1"},
      {R"({"answer":false})", "answer", "0"},
      {R"({"answer":""})", "answer", ""},
      {R"({"answer":null})", "answer", std::nullopt},
      {R"({"answer":"a\"b\u00e9\n"})", "answer", "a\"b\xc3\xa9\n"},
      {R"({"games":["snake","hangman"]})", "games", R"(["snake","hangman"])"},
      {R"({"result": { "winner" : "user", "moves" : [1, 2] }})", "result",
       R"({"moves":[1,2],"winner":"user"})"},
      {"[1,2]", "answer", std::nullopt},
      {R"("answer")", "answer", std::nullopt},
      {"not json", "answer", std::nullopt},
      {"", "answer", std::nullopt},
      {R"({"answer":"x"} trailing)", "answer", std::nullopt},
      {"\xef\xbb\xbf{\"answer\":\"bom\"}", "answer", "bom"},
      {"{\"answer\":\"\xff\"}", "answer", std::nullopt},
      {R"({"a":1,"a":2})", "a", "2"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(jsonValue(c.text, c.key), c.expected) << c.text << " [" << c.key << "]";
  }
}

}  // namespace
}  // namespace vesk
