// What a mailbox holds, looked at without taking anything.
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "rk.h"

namespace rkctl {

struct QueuedMessage {
  uint16_t length = 0;
  std::string fields;   // the writer's caller fields, in hex
};

// The queued messages from `start` on; the kernel's query gives their
// lengths and caller fields but not their data.
std::vector<QueuedMessage> queued_messages(rk_client_id id, rk_tag_ref ref, uint32_t start = 0);

std::string describe(const QueuedMessage& m);
nlohmann::json to_json(const QueuedMessage& m);

// Takes the oldest message, its bytes as they are; false when there is none.
bool take_message(rk_client_id id, rk_tag_ref ref, std::string* data);

// The kernel's text for an error number, and the number: "no message at
// that position (error 36)".
std::string error_text(int err);

}  // namespace rkctl
