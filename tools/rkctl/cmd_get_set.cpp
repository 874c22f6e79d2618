// rkctl get and set: batch reads that clear nobody's change bits, one batch
// write.
#include <cstdio>
#include <iostream>

#include <nlohmann/json.hpp>

#include "tools/rkctl/commands.h"
#include "tools/rkctl/failure.h"
#include "tools/rkctl/json_out.h"
#include "tools/rkctl/mailbox_view.h"
#include "tools/rkctl/tag_values.h"

namespace rkctl {

namespace {

constexpr uint16_t kString = 2;
constexpr uint16_t kMailbox = 3;
// Each string read needs room for the longest text (64 KiB): a request of
// more string tags than this is read in several batches.
constexpr size_t kStringsPerBatch = 256;

struct Shown {
  std::string text;
  nlohmann::json value;
};

// Reads the tags that are no mailboxes (a read of a mailbox would take its
// message), in as few batches as the string buffers allow.
std::vector<Shown> read_values(rk_client_id id, const std::vector<NamedTag>& tags, bool raw) {
  std::vector<Shown> shown(tags.size());
  size_t at = 0;
  while (at < tags.size()) {
    std::vector<NamedTag> batch;
    std::vector<size_t> places;
    size_t strings = 0;
    for (; at < tags.size() && strings < kStringsPerBatch; ++at) {
      if (tags[at].type.stat == kMailbox) continue;
      strings += tags[at].type.stat == kString ? 1 : 0;
      batch.push_back(tags[at]);
      places.push_back(at);
    }
    if (batch.empty()) break;
    PackedValues values(batch);
    std::vector<rk_tag_ref> refs;
    for (const NamedTag& t : batch) refs.push_back(t.ref);
    if (rk_read_no_clear(id, refs.data(), static_cast<uint32_t>(refs.size()), values.data()) != 0) {
      throw Failure("rkctl get: " + error_text(rk_errno(id)));
    }
    for (size_t i = 0; i < batch.size(); ++i) shown[places[i]] = Shown{values.text(i, raw), values.json(i, raw)};
  }
  return shown;
}

}  // namespace

int get_tags(const Target& target, const std::vector<std::string>& names, bool json, bool raw) {
  Session s(target);
  const std::vector<NamedTag> all = resolve_tags(names);
  const std::vector<Shown> shown = read_values(s.id(), all, raw);
  std::vector<uint32_t> attrs(all.size(), 0);
  if (json) {
    std::vector<rk_tag_ref> refs;
    for (const NamedTag& t : all) refs.push_back(t.ref);
    if (rk_query_attr(s.id(), refs.data(), static_cast<uint32_t>(refs.size()), attrs.data()) != 0) {
      throw Failure("rkctl get: attribute words: " + error_text(rk_errno(s.id())));
    }
  }
  // In the order asked, one entry per name given, repeats included.
  nlohmann::json out = nlohmann::json::array();
  for (size_t i = 0; i < all.size(); ++i) {
    const NamedTag& t = all[i];
    nlohmann::json value;
    if (t.type.stat == kMailbox) {
      const std::vector<QueuedMessage> queued = queued_messages(s.id(), t.ref);
      if (json) {
        value = nlohmann::json::array();
        for (const QueuedMessage& m : queued) value.push_back(to_json(m));
      } else {
        printf("%s = %zu message(s)\n", t.name.c_str(), queued.size());
        for (size_t m = 0; m < queued.size(); ++m) printf("  #%zu %s\n", m, describe(queued[m]).c_str());
      }
    } else if (json) {
      value = shown[i].value;
    } else {
      printf("%s = %s\n", t.name.c_str(), shown[i].text.c_str());
    }
    if (json) {
      out.push_back({{"tag", t.name},
                     {"type", t.type.name},
                     {"index", static_cast<unsigned>(t.ref.index)},
                     {"kind", kind_name(t.type.stat)},
                     {"value", value},
                     {"attr", attrs[i]}});
    }
  }
  if (json) std::cout << json_text(out) << std::endl;
  return 0;
}

int set_tags(const Target& target, const std::vector<std::string>& assignments) {
  Session s(target);
  // TYPE and TYPE[FIRST..LAST] give every tag they name the same value.
  std::vector<NamedTag> tags;
  std::vector<std::string> texts;
  for (const std::string& a : assignments) {
    const size_t eq = a.find('=');
    if (eq == std::string::npos) throw Failure("rkctl set: " + a + ": write TAG=VALUE");
    for (const NamedTag& t : resolve_tags({a.substr(0, eq)})) {
      tags.push_back(t);
      texts.push_back(a.substr(eq + 1));
    }
  }
  PackedValues values(tags, false);
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
