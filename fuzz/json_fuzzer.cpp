// The JSON helpers on any input: the first line is a key, the rest an answer from the app.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/unicode.h"
#include "client/json_text.h"
#include "client/json_value.h"
#include "client/vesk_client.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  const size_t newline = input.find('\n');
  const std::string key = input.substr(0, newline);
  const std::string text = newline == std::string::npos ? "" : input.substr(newline + 1);

  // jsonValue gives nothing or valid UTF-8 text; an array or object comes back as JSON that
  // means the same as the member it was read from.
  if (auto value = vesk::jsonValue(text, key)) {
    if (!vesk::isValidUtf8(*value)) std::abort();
    const auto member = nlohmann::json::parse(text).at(key);
    if (member.is_structured() && nlohmann::json::parse(*value) != member) std::abort();
    if (member.is_string() && *value != member.get<std::string>()) std::abort();
  }

  // Taken in place, the same value, or the text left as it was.
  std::string taken = text;
  const auto value = vesk::jsonValue(text, key);
  if (vesk::takeJsonValue(taken, key) != value.has_value() || taken != value.value_or(text)) {
    std::abort();
  }

  // The fast checks of texts going into JSON agree with the byte-by-byte one.
  for (const std::string& piece : {key, text}) {
    bool plain = true;
    for (unsigned char c : piece) plain &= c >= 0x20 && c < 0x80 && c != '"' && c != '\\';
    if (vesk::isPlainAscii(piece) != plain || vesk::isPlainAscii(piece, true) != plain)
      std::abort();
  }

  // A body written for the app is byte for byte what nlohmann/json writes, or nothing when a text
  // is not UTF-8.
  nlohmann::json body = nlohmann::json::object();
  body["message"] = text;
  body[key] = key;
  body["proposed_answers"] = nlohmann::json::array({key, text});
  auto written = vesk::jsonBodyText(body);
  const bool encodable = vesk::isValidUtf8(key) && vesk::isValidUtf8(text);
  if (written.has_value() != encodable) std::abort();
  if (written && *written != body.dump()) std::abort();
  return 0;
}
