#pragma once

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// The body of a request: one JSON object of texts and lists of texts. It refers to the texts it is
// given instead of copying them, and a long text that needs no escapes goes to the socket from
// where it lies: a card may carry a megabyte of image from the command line.
namespace vesk {

class JsonBody {
 public:
  // Sets a member, replacing one of the same key where it stands.
  void set(std::string_view key, std::string_view text);
  void set(std::string_view key, std::vector<std::string_view> texts);

  // The body's bytes, as pieces to send one after the other.
  struct Written {
    std::deque<std::string> owned;  // punctuation, short and escaped texts (a deque: they stay put)
    std::vector<std::string_view> pieces;
  };
  // Nothing when a text is not valid UTF-8, which cannot be JSON. The members' texts must outlive
  // what is written.
  std::optional<Written> write() const;
  // The same as one text: for checks, not for sending.
  std::optional<std::string> text() const;

 private:
  struct Member {
    std::string_view key;
    std::variant<std::string_view, std::vector<std::string_view>> value;
  };
  void set(Member member);

  std::vector<Member> members_;
};

}  // namespace vesk
