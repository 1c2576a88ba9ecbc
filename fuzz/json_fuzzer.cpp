// The JSON helpers on any input: the first line is a key, the rest an answer from the app.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/byte_scan.h"
#include "cli/unicode.h"
#include "client/json_body.h"
#include "client/json_text.h"
#include "client/json_value.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t newline = input.find('\n');
  const std::string key = input.substr(0, newline);
  const std::string text = newline == std::string::npos ? "" : input.substr(newline + 1);

  // jsonValue gives nothing or valid UTF-8 text; an array or object comes back as JSON that
  // means the same as the member it was read from.
  const auto value = vesk::jsonValue(text, key);
  if (value) {
    if (!vesk::isValidUtf8(*value)) std::abort();
    const auto member = nlohmann::json::parse(text).at(key);
    if (member.is_structured() && nlohmann::json::parse(*value) != member) std::abort();
    if (member.is_string() && *value != member.get<std::string>()) std::abort();
  }

  // Taken in place, the same value, or the text left as it was; viewed in place, the same value.
  std::string taken = text;
  if (vesk::takeJsonValue(taken, key) != value.has_value() || taken != value.value_or(text)) {
    std::abort();
  }
  std::string decoded = text;
  const auto view = vesk::jsonValueInPlace(decoded, key);
  if (view.has_value() != value.has_value() || (view && *view != *value)) std::abort();

  // The runs found many bytes at a time end where the byte-by-byte look ends them.
  for (const std::string& piece : {key, text}) {
    size_t plain = 0, ascii = 0;
    auto isPlain = [](unsigned char c) { return c >= 0x20 && c < 0x80 && c != '"' && c != '\\'; };
    while (plain < piece.size() && isPlain(piece[plain])) ++plain;
    while (ascii < piece.size() && static_cast<unsigned char>(piece[ascii]) < 0x80) ++ascii;
    for (size_t width : vesk::scanWidths()) {
      if (vesk::plainPrefix(piece, width) != plain || vesk::asciiPrefix(piece, width) != ascii) {
        std::abort();
      }
    }
  }

  // A body written for the app holds exactly what was put in, or nothing when a text is not
  // UTF-8; each text is escaped byte for byte as nlohmann/json escapes it.
  vesk::JsonBody body;
  body.set("message", text);
  body.set(key, key);
  body.set("proposed_answers", {key, text});
  const bool encodable = vesk::isValidUtf8(key) && vesk::isValidUtf8(text);
  // Checked in pieces as it arrives, the same judgement: cut where the key's length says.
  vesk::Utf8Check pieces;
  pieces.arrived(std::string_view(text).substr(0, key.size()));
  if (pieces.valid(text) != vesk::isValidUtf8(text)) std::abort();
  const auto written = body.text();
  if (written.has_value() != encodable) std::abort();
  if (!encodable) return 0;
  nlohmann::json expected = nlohmann::json::object();
  expected["message"] = text;
  expected[key] = key;
  expected["proposed_answers"] = {key, text};
  if (nlohmann::json::parse(*written) != expected) std::abort();
  std::string escaped = "\"";
  vesk::appendEscapedJson(escaped, text);
  if (escaped + "\"" != nlohmann::json(text).dump()) std::abort();
  return 0;
}
