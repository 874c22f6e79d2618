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

class PackedValues {
 public:
  explicit PackedValues(const std::vector<NamedTag>& tags);
  void* data() { return bytes_.data(); }

  // After a read: the value of tag i as text and as JSON.
  std::string text(size_t i) const;
  nlohmann::json json(size_t i) const;
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

// Message data shown as text: printable bytes as they are, others as \xNN.
std::string printable(const char* data, size_t length);

}  // namespace rkctl
