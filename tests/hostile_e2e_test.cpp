// Answers no sane app sends: huge, deeply nested, badly encoded, badly framed or slow. Every
// one must end with exit status 0 or 1 and a clear message: no crash, no hang, and memory that
// grows with the answer and no faster.
#include <gtest/gtest.h>

#include "support/loopback_server.h"
#include "support/run_vesk.h"

namespace vesk::test {
namespace {

using namespace std::chrono_literals;

#ifdef VESK_SANITIZED
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

RunResult runAgainst(const Reply& reply, std::vector<std::string> args,
                     bool measureMemory = false) {
  LoopbackServer server(reply);
  args.insert(args.end(), {"--port", std::to_string(server.port())});
  return measureMemory ? runVeskMeasuringMemory(args) : runVesk(args);
}

std::string nested(size_t depth) {
  return std::string(depth, '[') + std::string(depth, ']');
}

TEST(HostileTest, HugeAnswersAreReadWholeInBoundedMemory) {
  const size_t size = 40u << 20;
  const std::string text(size, 'y');
  const struct {
    std::vector<std::string> args;
    std::string body;
    size_t outputSize;
  } cases[] = {
      {{"ask", "q"}, "{\"answer\":\"" + text + "\"}", size + 1},
      {{"ask", "q", "--json"}, "{\"answer\":\"" + text + "\"}", size + 14},
      {{"listen", "--json"}, text, size + 1},
      {{"game", "snake"}, "{\"result\":\"" + text + "\"}", size + 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    // A generous timeout: a sanitized build on a busy machine reads 40 MB slowly.
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"--timeout", "300"});
    RunResult run = runAgainst(respond(200, c.body), args, /*measureMemory=*/true);
    EXPECT_EQ(run.exitCode, 0) << run.err.substr(0, 200);
    EXPECT_EQ(run.out.size(), c.outputSize);
    // Memory grows with the answer: a few copies of it at most (raw: one), never a blow-up.
    // Sanitizers keep memory of their own, so the figure only means something without them.
    if (kSanitized) continue;
    EXPECT_LT(run.peakMemoryKb, static_cast<long>(5 * size / 1024 + 16 * 1024));
  }
}

TEST(HostileTest, DeepNestingNeitherCrashesNorOverflows) {
  for (size_t depth : {1000u, 100000u, 1000000u}) {
    SCOPED_TRACE(depth);
    RunResult run = runAgainst(respond(200, "{\"answer\":" + nested(depth) + "}"), {"ask", "q"});
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitCode, 0);
    run = runAgainst(respond(200, nested(depth)), {"characters"});
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, nested(depth) + "\n");
    run = runAgainst(respond(200, "{\"result\":" + nested(depth) + "}"), {"game", "snake"});
    EXPECT_EQ(run.signal, 0);
    EXPECT_EQ(run.exitCode, 0);
  }
}

TEST(HostileTest, OddEncodings) {
  const std::string nul("a\0b", 3);
  const struct {
    std::string name;
    std::string body;
    std::vector<std::string> args;
    std::string out, err;
  } cases[] = {
      {"invalid UTF-8 is no body", "{\"answer\":\"\xc3\x28\"}", {"ask", "q", "--json"}, "\n", ""},
      {"overlong encoding",
       "{\"message\":\"\xc0\xaf\"}",
       {"listen"},
       "",
       "warning: compose was cancelled — no message\n"},
      {"NUL bytes pass through", nul, {"listen", "--json"}, nul + "\n", ""},
      {"escaped NUL in a value", "{\"message\":\"a\\u0000b\"}", {"listen"}, nul + "\n", ""},
      {"raw NUL inside JSON",
       "{\"message\":\"" + nul + "\"}",
       {"listen"},
       "",
       "warning: compose was cancelled — no message\n"},
      {"byte-order mark", "\xef\xbb\xbf{\"message\":\"hi\"}", {"listen"}, "hi\n", ""},
      {"escaped surrogate pair",
       "{\"message\":\"\\ud83d\\ude00\"}",
       {"listen"},
       "\xf0\x9f\x98\x80\n",
       ""},
      {"lone surrogate",
       "{\"message\":\"\\ud83d\"}",
       {"listen"},
       "",
       "warning: compose was cancelled — no message\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RunResult run = runAgainst(respond(200, c.body), c.args);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
  }
}

TEST(HostileTest, OddStatusLines) {
  const struct {
    std::string statusLine;
    std::string err;  // empty when the answer counts
  } cases[] = {
      {"HTTP/1.1 999 Whatever", "error: server returned 999: x\n"},
      {"HTTP/1.1 200 ", ""},  // an empty reason phrase is still a status line
      {"HTTP/1.1 000 Zero", "error: no HTTP response received\n"},
      {"HTTP/1.1 1000 Big", "error: network error: bad status\n"},
      {"HTTP/1.1 -1 Negative", "error: network error: bad status\n"},
      {"HTTP/1.1 abc Letters", "error: network error: bad status\n"},
      {"HTTP/2 200 OK", "error: network error: bad version\n"},
      {"ICY 200 OK", "error: network error: bad version\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.statusLine);
    RunResult run = runAgainst(rawReply(c.statusLine + "\r\nContent-Length: 1\r\n\r\nx"),
                               {"collapse", "--json"});
    if (!c.err.empty()) {
      EXPECT_EQ(run.exitCode, 1);
      EXPECT_EQ(run.err, c.err);
    } else {
      EXPECT_EQ(run.exitCode, 0) << run.err;
      EXPECT_EQ(run.out, "x\n");
    }
  }
}

// However the answer is cut, the run ends with a network error, never a crash or a success.
TEST(HostileTest, AnswersCutAtEveryByte) {
  const std::string full =
      "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 16\r\n\r\n"
      "{\"answer\":\"Yes\"}";
  for (size_t cut = 0; cut < full.size(); ++cut) {
    SCOPED_TRACE(cut);
    RunResult run = runAgainst(rawReply(full.substr(0, cut)), {"ask", "q"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("error: network error: ", 0), 0u) << run.err;
  }
  EXPECT_EQ(runAgainst(rawReply(full), {"ask", "q"}).out, "Yes\n");
}

TEST(HostileTest, SlowAnswersEndAtTheTimeout) {
  const std::string headers = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n";
  Reply silentAfterHeaders = rawReply(headers + "{\"answer\":");
  silentAfterHeaders.holdOpen = true;
  Reply drip = rawReply(headers + std::string(100, ' '));
  drip.drip = 20ms;  // 3 seconds in all, each byte well inside the timeout
  Reply lateHeaders = rawReply(headers);
  lateHeaders.delay = 5s;
  const struct {
    std::string name;
    Reply reply;
  } cases[] = {
      {"silent before the headers", silent()},
      {"silent after the headers", silentAfterHeaders},
      {"a slow drip", drip},
      {"late headers", lateHeaders},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RunResult run = runAgainst(c.reply, {"ask", "q", "--timeout", "1.5"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "error: request timed out after 1s\n");
  }
}

}  // namespace
}  // namespace vesk::test
