#include "tools/rkctl/mailbox_view.h"

#include <cstdio>
#include <cstring>

#include "tools/rkctl/failure.h"
#include "tools/rkctl/tag_values.h"

namespace rkctl {

std::string error_text(int err) { return std::string(rk_strerror(err)) + " (error " + std::to_string(err) + ")"; }

std::vector<QueuedMessage> queued_messages(rk_client_id id, rk_tag_ref ref, uint32_t start) {
  uint32_t count = 0;
  if (rk_count_mbx(id, ref, &count) != 0) throw Failure("rkctl: mailbox: " + error_text(rk_errno(id)));
  std::vector<QueuedMessage> out;
  if (start >= count) return out;
  std::vector<rk_message_record> records(count - start);
  uint32_t got = 0;
  if (rk_query_mbx(id, ref, records.data(), start, count - start, &got) != 0) {
    if (rk_errno(id) == 36) return out;   // taken meanwhile
    throw Failure("rkctl: mailbox: " + error_text(rk_errno(id)));
  }
  for (uint32_t i = 0; i < got; ++i) {
    QueuedMessage m;
    m.length = records[i].length;
    char b[3];
    for (uint8_t f : records[i].caller_fields) {
      snprintf(b, sizeof b, "%02x", f);
      m.fields += b;
    }
    out.push_back(m);
  }
  return out;
}

std::string describe(const QueuedMessage& m) {
  return "message of " + std::to_string(m.length) + " bytes, fields " + m.fields;
}

nlohmann::json to_json(const QueuedMessage& m) { return {{"length", m.length}, {"fields", m.fields}}; }

bool take_message(rk_client_id id, rk_tag_ref ref, std::string* data) {
  std::vector<char> buffer(65535);
  rk_message_record r;
  memset(&r, 0, sizeof r);
  r.data = buffer.data();
  r.size = static_cast<uint16_t>(buffer.size());
  if (rk_read_mbx(id, ref, &r, 0) != 0) {
    if (rk_errno(id) == 36) return false;
    throw Failure("rkctl: mailbox: " + error_text(rk_errno(id)));
  }
  data->assign(buffer.data(), r.length);
  return true;
}

}  // namespace rkctl
