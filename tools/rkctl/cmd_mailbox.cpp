// rkctl send and mbx: append a message to a mailbox, list what it holds.
#include <cstdio>
#include <cstring>
#include <iostream>

#include <nlohmann/json.hpp>

#include "tools/rkctl/commands.h"
#include "tools/rkctl/json_out.h"
#include "tools/rkctl/failure.h"
#include "tools/rkctl/mailbox_view.h"
#include "tools/rkctl/tag_values.h"

namespace rkctl {

namespace {

NamedTag one_mailbox(const std::string& name) {
  if (name.find("..") != std::string::npos) throw Failure("rkctl: " + name + ": one mailbox");
  const NamedTag t = resolve_tags({name}).front();
  if (t.type.stat != 3) throw Failure("rkctl: " + name + ": " + t.type.name + " is not a mailbox type");
  return t;
}

}  // namespace

int send_message(const Target& target, const std::string& tag, const std::string& message) {
  Session s(target);
  const NamedTag t = one_mailbox(tag);
  if (message.size() > 63458) throw Failure("rkctl send: a message holds at most 63458 bytes");
  rk_message_record r;
  memset(&r, 0, sizeof r);
  r.data = message.empty() ? nullptr : const_cast<char*>(message.data());
  r.size = r.length = static_cast<uint16_t>(message.size());
  if (rk_write_mbx(s.id(), t.ref, &r) != 0) throw Failure("rkctl send: " + error_text(rk_errno(s.id())));
  return 0;
}

int list_mailbox(const Target& target, const std::string& tag, bool take, bool json, bool raw) {
  Session s(target);
  const NamedTag t = one_mailbox(tag);
  nlohmann::json out = nlohmann::json::array();
  if (take) {
    std::string data;
    while (take_message(s.id(), t.ref, &data)) {
      if (json) {
        out.push_back({{"data", raw ? hex_bytes(data.data(), data.size()) : data}});
      } else {
        printf("%s\n", raw ? hex_bytes(data.data(), data.size()).c_str() : printable(data.data(), data.size()).c_str());
      }
    }
  } else {
    const auto queued = queued_messages(s.id(), t.ref);
    for (size_t i = 0; i < queued.size(); ++i) {
      if (json) {
        out.push_back(to_json(queued[i]));
      } else {
        printf("#%zu %s\n", i, describe(queued[i]).c_str());
      }
    }
  }
  if (json) std::cout << json_text(out) << std::endl;
  return 0;
}

}  // namespace rkctl
