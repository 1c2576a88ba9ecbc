// The HTTP engine through the real binary: connection failures, deadlines, answers of every
// framing, and what it sends on the wire.
#include <cstdlib>

#include <gtest/gtest.h>

#include "support/loopback_server.h"
#include "support/run_vesk.h"

namespace vesk::test {
namespace {

RunResult runAgainst(const LoopbackServer& server, std::vector<std::string> args) {
  args.insert(args.end(), {"--port", std::to_string(server.port())});
  return runVesk(args);
}

TEST(TransportTest, NothingListeningCannotConnect) {
  RunResult run = runVesk({"health"});  // the default port: nothing listens there in tests
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "error: cannot connect to Tarnel — is the app running? (port 47037)\n");

  const std::string port = std::to_string(unusedPort());
  run = runVesk({"notify", "hi", "--port", port});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "error: cannot connect to Tarnel — is the app running? (port " + port + ")\n");
}

TEST(TransportTest, ProxySettingsAreIgnored) {
  LoopbackServer server(respond(200, ""));
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
    setenv(name, "http://127.0.0.1:1", 1);
  }
  RunResult run = runAgainst(server, {"collapse"});
  for (const char* name : {"http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) unsetenv(name);
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(server.requests().size(), 1u);
}

TEST(TransportTest, SilenceEndsAtTheTimeout) {
  const struct {
    std::vector<std::string> args;
    std::string err;
  } cases[] = {
      {{"notify", "hi", "--timeout", "0.0001"}, "error: request timed out after 0s\n"},
      {{"notify", "hi", "-t", "1e-300"}, "error: request timed out after 0s\n"},
      {{"listen", "--timeout", "1.9"}, "error: request timed out after 1s\n"},
      {{"ask", "q", "--timeout", "0.5"}, "error: request timed out after 0s\n"},
  };
  LoopbackServer server(silent());
  for (const auto& c : cases) {
    RunResult run = runAgainst(server, c.args);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.err);
  }
}

// The quick checks keep their own 5 seconds whatever "--timeout" says.
TEST(TransportTest, HealthTimesOutAfterFiveSecondsWhateverTheTimeout) {
  LoopbackServer server(silent());
  RunResult run = runAgainst(server, {"health", "--timeout", "600"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "error: request timed out after 5s\n");
}

// Endless and astronomically long timeouts are still deadlines: an answer ends the wait as usual.
TEST(TransportTest, HugeTimeoutsAreAccepted) {
  LoopbackServer server(respond(200, ""));
  for (const char* timeout : {"inf", "1e999", "1e300", "9223372036854775807"}) {
    RunResult run = runAgainst(server, {"collapse", "--timeout", timeout});
    EXPECT_EQ(run.exitCode, 0) << timeout << ": " << run.err;
    EXPECT_EQ(run.out, "✓ card collapsed\n");
  }
}

TEST(TransportTest, AnswersOfEveryFraming) {
  const std::string hello = "{\"answer\":\"hi\"}";
  const struct {
    std::string name;
    Reply reply;
    std::string out, err;
    int exitCode;
  } cases[] = {
      {"chunked",
       rawReply("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\n{\"ans\r\n"
                "a\r\nwer\":\"hi\"}\r\n0\r\n\r\n"),
       "hi\n", "", 0},
      {"until close", rawReply("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + hello), "hi\n", "",
       0},
      {"HTTP/1.0", rawReply("HTTP/1.0 200 OK\r\n\r\n" + hello), "hi\n", "", 0},
      {"interim answers first",
       rawReply("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early Hints\r\nLink: </a>\r\n\r\n"
                "HTTP/1.1 200 OK\r\nContent-Length: 15\r\n\r\n" +
                hello),
       "hi\n", "", 0},
      {"odd status", respond(299, "odd"), "", "error: server returned 299: odd\n", 1},
      {"switching protocols", rawReply("HTTP/1.1 101 Switching Protocols\r\n\r\n"), "",
       "error: server returned 101: \n", 1},
      {"body not UTF-8", respond(200, "{\"answer\":\"caf\xe9\"}"), "",
       "warning: user dismissed without answering\n", 0},
      {"closed before answering", closeAfterRequest(), "", "error: network error: end of stream\n",
       1},
      {"cut in the headers", rawReply("HTTP/1.1 200 OK\r\nContent-Le"), "",
       "error: network error: partial message\n", 1},
      {"cut in the body", rawReply("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n{\"a"), "",
       "error: network error: partial message\n", 1},
      {"not HTTP", rawReply("SSH-2.0-OpenSSH_9.2\r\n"), "", "error: network error: bad version\n",
       1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LoopbackServer server(c.reply);
    RunResult run = runAgainst(server, {"ask", "q"});
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.exitCode, c.exitCode);
  }
}

TEST(TransportTest, ResetIsANetworkErrorNotASignal) {
  LoopbackServer server(resetAfterRequest());
  RunResult run = runAgainst(server, {"notify", "hi"});
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.signal, 0);
  EXPECT_EQ(run.err.rfind("error: network error: ", 0), 0u) << run.err;
}

TEST(TransportTest, LargeAnswersAreReadWhole) {
  const std::string big(20 << 20, 'x');  // past any default body limit
  LoopbackServer server(respond(200, "{\"answer\":\"" + big + "\"}"));
  RunResult run = runAgainst(server, {"ask", "q"});
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out.size(), big.size() + 1);  // sizes, not megabytes of text, on a failure
  EXPECT_TRUE(run.out == big + "\n");
}

TEST(TransportTest, RequestOnTheWire) {
  LoopbackServer server(respond(200, ""));
  runAgainst(server, {"notify", "hi"});
  runAgainst(server, {"listen"});
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].headers.at("content-type"), "application/json");
  EXPECT_EQ(requests[0].headers.at("content-length"), std::to_string(requests[0].body.size()));
  EXPECT_EQ(requests[0].headers.at("host"), "127.0.0.1:" + std::to_string(server.port()));
  EXPECT_FALSE(requests[1].hasHeader("content-type"));
  EXPECT_FALSE(requests[1].hasHeader("content-length"));
  EXPECT_EQ(requests[1].body, "");
}

}  // namespace
}  // namespace vesk::test
