// JSON as rkctl writes it: UTF-8 as it is, and a byte that is not UTF-8
// (a tag's text may hold any bytes) as U+FFFD, never an exception.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

namespace rkctl {

// indent -1: one line, for a stream of one object per line.
inline std::string json_text(const nlohmann::json& j, int indent = 2) {
  return j.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

// The local time to the millisecond with its UTC offset, as a JSON stamp
// wants it: 2025-03-07T14:02:11.042+01:00.
std::string iso_time();

}  // namespace rkctl
