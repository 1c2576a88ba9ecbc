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
      {std::string("{\"answer\":\"x\"}\0 trailing", 24), "answer", std::nullopt},
      {std::string("{\"answer\":\"x\"}\0", 15), "answer", std::nullopt},
      {std::string("{\"port\":1}\0", 11), "port", std::nullopt},
      {"\xef\xbb\xbf{\"answer\":\"bom\"}", "answer", "bom"},
      {"{\"answer\":\"\xff\"}", "answer", std::nullopt},
      {R"({"a":1,"a":2})", "a", "2"},
      {R"({"a":"x","a":[1]})", "a", "[1]"},
      {R"({"a":[1],"a":"x"})", "a", "x"},
      // Read where they lie: escapes, keys spelled with escapes, members deeper down.
      {R"( { "x" : {"answer":"deep"} , "answer" : "a\"b\\c\/\b\f\n\r\t\u00e9\ud83d\ude00\u0000" } )",
       "answer", std::string("a\"b\\c/\b\f\n\r\t\xc3\xa9\xf0\x9f\x98\x80\0", 18)},
      {R"({"\u0061nswer":"yes","list":[[],{},[{"answer":1}],-0.5,0,true,false,null]})", "answer",
       "yes"},
      {R"({"answer":"x","n":1e400})", "answer", std::nullopt},  // a number the parser refuses
      {R"({"answer":"x","n":123456789012345678901234567890})", "answer", "x"},
      {R"({"answer":"x","n":-1.5E+2})", "answer", "x"},
      {R"({"answer":"x","n":01})", "answer", std::nullopt},
      {R"({"answer":"x",})", "answer", std::nullopt},
      {R"({"answer":"x"]})", "answer", std::nullopt},
      {R"({"answer":"\ud83d"})", "answer", std::nullopt},
      {R"({"answer":"\ud800x"})", "answer", std::nullopt},  // a lone high surrogate, the first
      {R"({"answer":"\x"})", "answer", std::nullopt},
      {"{\"answer\":\"a\tb\"}", "answer", std::nullopt},  // a raw tab inside a string
      {R"({"answer":"x"}{})", "answer", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(jsonValue(c.text, c.key), c.expected) << c.text << " [" << c.key << "]";
    std::string text = c.text;
    ASSERT_EQ(takeJsonValue(text, c.key), c.expected.has_value()) << c.text;
    EXPECT_EQ(text, c.expected.value_or(c.text)) << c.text;
  }
}

TEST(JsonValueTest, SeveralValuesFromOneReading) {
  using Values = std::vector<std::optional<std::string>>;
  EXPECT_EQ(jsonValues(R"({"games":["a"],"port":1})", {"port", "games", "x"}),
            (Values{"1", R"(["a"])", std::nullopt}));
  EXPECT_EQ(jsonValues("[]", {"port", "games"}), (Values{std::nullopt, std::nullopt}));
}

TEST(JsonValueTest, StringsAreTakenWhereTheyLie) {
  std::string text = R"({"n":1,"answer":"a long answer, \"quoted\", on\ntwo lines","x":[]})";
  const char* storage = text.data();
  ASSERT_TRUE(takeJsonValue(text, "answer"));
  EXPECT_EQ(text, "a long answer, \"quoted\", on\ntwo lines");
  EXPECT_EQ(text.data(), storage);  // no second copy of a large answer
}

}  // namespace
}  // namespace vesk
