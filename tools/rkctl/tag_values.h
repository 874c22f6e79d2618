// Tag values in the kernel's packed buffer layout, shown and parsed by value
// kind: plain values by their type's class (integers, doubles, raw bytes in
// hex), digital 0/1, strings as text, mailbox messages as text.
#pragma once

#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <vector>

#include "tools/rkctl/tag_names.h"

namespace rkctl {

// One element of a packed buffer, shown. `raw` shows a string's exact
// bytes in hex instead of its text.
std::string value_text(const TypeInfo& t, const uint8_t* element, bool raw = false);
// As JSON: numbers by class, a string's text as a JSON string (bytes that
// are not UTF-8 become U+FFFD as the text is written out), raw bytes as
// "0x..." text.
nlohmann::json value_json(const TypeInfo& t, const uint8_t* element, bool raw = false);

class PackedValues {
 public:
  // Every string tag gets a text buffer of the largest size a string can
  // have, for reading into; `text_room` false gives none (for values that
  // are copied in from elsewhere).
  explicit PackedValues(const std::vector<NamedTag>& tags, bool text_room = true);
  void* data() { return bytes_.data(); }
  const uint8_t* element(size_t i) const { return &bytes_[offsets_[i]]; }

  // After a read: the value of tag i as text and as JSON.
  std::string text(size_t i, bool raw = false) const { return value_text(tags_[i].type, element(i), raw); }
  nlohmann::json json(size_t i, bool raw = false) const { return value_json(tags_[i].type, element(i), raw); }
  // Before a write: parses `value` into tag i; throws Failure when it does
  // not fit the tag.
  void set(size_t i, const std::string& value);

 private:
  const std::vector<NamedTag>& tags_;
  std::vector<size_t> offsets_;
  std::vector<uint8_t> bytes_;
  std::vector<std::unique_ptr<std::vector<char>>> texts_;   // string and message data
};

// Bytes one value of the type takes in a packed buffer of this process:
// plain values their usiz, digital values a uint16_t, strings and messages
// our own rk_string_desc and rk_message_record, whatever the table's usiz
// says (a 32-bit creator writes 8 and 22 there).
size_t element_size(const TypeInfo& t);

// Text for a terminal: UTF-8 as it is; control characters, backslashes and
// bytes that are not UTF-8 as \xNN.
std::string printable(const char* data, size_t length);
// Bytes in hex, two lower-case digits each.
std::string hex_bytes(const char* data, size_t length);

}  // namespace rkctl
