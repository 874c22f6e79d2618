// rkctl get and set: one batch read that clears nobody's change bits, one
// batch write.
#include <cstdio>
#include <iostream>

#include <nlohmann/json.hpp>

#include "tools/rkctl/commands.h"
#include "tools/rkctl/failure.h"
#include "tools/rkctl/mailbox_view.h"
#include "tools/rkctl/tag_values.h"

namespace rkctl {

namespace {
constexpr uint16_t kMailbox = 3;
}

int get_tags(const Target& target, const std::vector<std::string>& names, bool json) {
  Session s(target);
  const std::vector<NamedTag> all = resolve_tags(names);
  // A read of a mailbox takes its message: mailboxes are only queried.
  std::vector<NamedTag> plain;
  for (const NamedTag& t : all) {
    if (t.type.stat != kMailbox) plain.push_back(t);
  }
  PackedValues values(plain);
  std::vector<rk_tag_ref> refs;
  for (const NamedTag& t : plain) refs.push_back(t.ref);
  if (!refs.empty() && rk_read_no_clear(s.id(), refs.data(), static_cast<uint32_t>(refs.size()), values.data()) != 0) {
    throw Failure("rkctl get: " + error_text(rk_errno(s.id())));
  }
  nlohmann::json out = nlohmann::json::object();
  size_t p = 0;
  for (const NamedTag& t : all) {
    if (t.type.stat == kMailbox) {
      const std::vector<QueuedMessage> queued = queued_messages(s.id(), t.ref);
      if (json) {
        nlohmann::json list = nlohmann::json::array();
        for (const QueuedMessage& m : queued) list.push_back(to_json(m));
        out[t.name] = {{"messages", list}};
      } else {
        printf("%s = %zu message(s)\n", t.name.c_str(), queued.size());
        for (size_t i = 0; i < queued.size(); ++i) printf("  #%zu %s\n", i, describe(queued[i]).c_str());
      }
      continue;
    }
    if (json) {
      out[t.name] = values.json(p);
    } else {
      printf("%s = %s\n", t.name.c_str(), values.text(p).c_str());
    }
    ++p;
  }
  if (json) std::cout << out.dump(2) << std::endl;
  return 0;
}

int set_tags(const Target& target, const std::vector<std::string>& assignments) {
  Session s(target);
  std::vector<std::string> names, texts;
  for (const std::string& a : assignments) {
    const size_t eq = a.find('=');
    if (eq == std::string::npos) throw Failure("rkctl set: " + a + ": write TAG=VALUE");
    names.push_back(a.substr(0, eq));
    texts.push_back(a.substr(eq + 1));
  }
  for (const std::string& n : names) {
    if (n.find("..") != std::string::npos) throw Failure("rkctl set: " + n + ": one tag per assignment");
  }
  const std::vector<NamedTag> tags = resolve_tags(names);
  PackedValues values(tags);
  std::vector<rk_tag_ref> refs;
  for (size_t i = 0; i < tags.size(); ++i) {
    values.set(i, texts[i]);
    refs.push_back(tags[i].ref);
  }
  if (rk_write(s.id(), refs.data(), static_cast<uint32_t>(refs.size()), values.data()) != 0) {
    throw Failure("rkctl set: " + error_text(rk_errno(s.id())));
  }
  return 0;
}

}  // namespace rkctl
