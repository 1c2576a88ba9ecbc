#include "client/json_body.h"

#include "client/json_text.h"

namespace vesk {
namespace {

// A plain text at least this long is sent from where it lies; a shorter one is cheaper to copy
// than to hand to the socket as a piece of its own.
constexpr size_t kLongText = 4096;

// Writes pieces: small ones gathered into the last owned text, long plain texts as they are.
class Writer {
 public:
  explicit Writer(JsonBody::Written& written) : written_(written) {}

  void append(std::string_view punctuation) { current().append(punctuation); }

  bool appendString(std::string_view text) {
    const JsonText kind = classifyJsonText(text);
    if (kind == JsonText::notUtf8) return false;
    if (kind != JsonText::plain || text.size() < kLongText) {
      std::string& out = current();
      out += '"';
      if (kind == JsonText::plain) {
        out += text;
      } else {
        appendEscapedJson(out, text);
      }
      out += '"';
      return true;
    }
    current() += '"';
    finishOwned();
    written_.pieces.push_back(text);
    current() += '"';
    return true;
  }

  void finish() { finishOwned(); }

 private:
  std::string& current() {
    if (!open_) {
      written_.owned.emplace_back();
      open_ = true;
    }
    return written_.owned.back();
  }

  void finishOwned() {
    if (open_) written_.pieces.push_back(written_.owned.back());
    open_ = false;
  }

  JsonBody::Written& written_;
  bool open_ = false;
};

}  // namespace

void JsonBody::set(Member member) {
  for (Member& existing : members_) {
    if (existing.key == member.key) {
      existing = std::move(member);
      return;
    }
  }
  members_.push_back(std::move(member));
}

void JsonBody::set(std::string_view key, std::string_view text) {
  set(Member{key, text});
}

void JsonBody::set(std::string_view key, std::vector<std::string_view> texts) {
  set(Member{key, std::move(texts)});
}

std::optional<JsonBody::Written> JsonBody::write() const {
  Written written;
  Writer writer(written);
  writer.append("{");
  for (const Member& member : members_) {
    if (&member != &members_.front()) writer.append(",");
    if (!writer.appendString(member.key)) return std::nullopt;
    writer.append(":");
    if (const auto* text = std::get_if<std::string_view>(&member.value)) {
      if (!writer.appendString(*text)) return std::nullopt;
      continue;
    }
    writer.append("[");
    const auto& texts = std::get<std::vector<std::string_view>>(member.value);
    for (const std::string_view& text : texts) {
      if (&text != &texts.front()) writer.append(",");
      if (!writer.appendString(text)) return std::nullopt;
    }
    writer.append("]");
  }
  writer.append("}");
  writer.finish();
  return written;
}

std::optional<std::string> JsonBody::text() const {
  auto written = write();
  if (!written) return std::nullopt;
  std::string text;
  for (std::string_view piece : written->pieces) text += piece;
  return text;
}

}  // namespace vesk
