// rkctl watch: one line per change of the watched tags, until Ctrl-C; with
// --json one JSON object per line, each with its time.
#include <sys/time.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>

#include "tools/rkctl/commands.h"
#include "tools/rkctl/failure.h"
#include "tools/rkctl/interrupts.h"
#include "tools/rkctl/json_out.h"
#include "tools/rkctl/mailbox_view.h"
#include "tools/rkctl/tag_values.h"

namespace rkctl {

namespace {

constexpr uint16_t kMailbox = 3;
constexpr int kTerminated = 27;
constexpr int kNoChange = 11;

std::string now_text() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  tm t;
  localtime_r(&tv.tv_sec, &t);
  char b[64];
  snprintf(b, sizeof b, "%02d:%02d:%02d.%03ld", t.tm_hour, t.tm_min, t.tm_sec, static_cast<long>(tv.tv_usec / 1000));
  return b;
}

// Prints the events of a watch: a line of text each, or a JSON object.
class Events {
 public:
  explicit Events(bool json) : json_(json) {}

  void value(const NamedTag& t, const TypeInfo& type, const uint8_t* element, bool first) {
    if (!json_) {
      printf("%s %s = %s\n", now_text().c_str(), t.name.c_str(), value_text(type, element).c_str());
      return;
    }
    nlohmann::json e = head(first ? "value" : "change", t);
    e["value"] = value_json(type, element);
    put(e);
  }
  void queued(const NamedTag& t, size_t count) {
    if (!json_) {
      printf("%s %s = %zu message(s)\n", now_text().c_str(), t.name.c_str(), count);
      return;
    }
    nlohmann::json e = head("value", t);
    e["queued"] = count;
    put(e);
  }
  void message(const NamedTag& t, const QueuedMessage& m) {
    if (!json_) {
      printf("%s %s <- %s\n", now_text().c_str(), t.name.c_str(), describe(m).c_str());
      return;
    }
    nlohmann::json e = head("message", t);
    e["length"] = m.length;
    e["fields"] = m.fields;
    put(e);
  }
  void taken(const NamedTag& t, const std::string& data) {
    if (!json_) {
      printf("%s %s <- %s\n", now_text().c_str(), t.name.c_str(), printable(data.data(), data.size()).c_str());
      return;
    }
    nlohmann::json e = head("message", t);
    e["length"] = data.size();
    e["data"] = data;
    put(e);
  }
  void watching(size_t n, const Session& s) {
    if (!json_) {
      printf("watching %zu tag(s) of %s in %s/%s\n", n, s.rtdb().c_str(), s.where().domain.c_str(),
             s.where().instance.c_str());
    } else {
      put({{"time", iso_time()},
           {"event", "watching"},
           {"tags", n},
           {"rtdb", s.rtdb()},
           {"instance", s.where().domain + "/" + s.where().instance}});
    }
    fflush(stdout);
  }

 private:
  static nlohmann::json head(const char* event, const NamedTag& t) {
    return {{"time", iso_time()},
            {"event", event},
            {"tag", t.name},
            {"type", t.type.name},
            {"index", static_cast<unsigned>(t.ref.index)},
            {"kind", kind_name(t.type.stat)}};
  }
  static void put(const nlohmann::json& e) { std::cout << json_text(e, -1) << '\n'; }

  bool json_;
};

}  // namespace

int watch_tags(const Target& target, const std::vector<std::string>& names, bool take, int64_t count, bool json) {
  Session s(target);
  const std::vector<NamedTag> tags = resolve_tags(names);
  std::vector<rk_tag_ref> refs;
  std::vector<uint32_t> seen(tags.size(), 0);   // mailbox: messages shown so far
  size_t room = sizeof(rk_message_record);
  for (const NamedTag& t : tags) {
    refs.push_back(t.ref);
    room = std::max(room, element_size(t.type));
  }
  const auto n = static_cast<uint32_t>(refs.size());
  const rk_client_id id = s.id();
  Events events(json);

  // Only what changes from now on is news to us.
  rk_clear_chng(id, refs.data(), n);
  std::vector<char> text(65535);
  std::vector<uint8_t> buffer(room);
  auto aim_at_text = [&] {
    // A string read lands in our text buffer; whatever else is read overwrites the descriptor.
    const rk_string_desc d{text.data(), 65535, 0};
    memcpy(buffer.data(), &d, sizeof d);
  };
  for (size_t i = 0; i < tags.size(); ++i) {
    if (tags[i].type.stat == kMailbox) {
      const auto queued = queued_messages(id, tags[i].ref);
      seen[i] = static_cast<uint32_t>(queued.size());
      events.queued(tags[i], queued.size());
      continue;
    }
    aim_at_text();
    if (rk_read_no_clear(id, &tags[i].ref, 1, buffer.data()) == 0) events.value(tags[i], tags[i].type, buffer.data(), true);
  }
  events.watching(tags.size(), s);

  uint32_t position = 0;
  int64_t shown = 0;
  while (count == 0 || shown < count) {
    aim_at_text();
    if (position >= n) position = 0;   // a scan that found nothing leaves it at the end
    if (rk_change_wait(id, refs.data(), n, &position, buffer.data()) != 0) {
      const int err = rk_errno(id);
      if (err == kTerminated || interrupted()) break;
      if (err == kNoChange) continue;   // woken without a change
      if (err == -1) throw Failure("rkctl watch: the instance or its RTDB has ended");
      throw Failure("rkctl watch: " + error_text(err));
    }
    const size_t i = position;
    const NamedTag& t = tags[i];
    if (t.type.stat == kMailbox) {
      // Its change bit stays while messages are queued: clear it first, so
      // that the next message wakes us again.
      rk_clear_chng(id, &t.ref, 1);
      if (take) {
        std::string data;
        while (take_message(id, t.ref, &data)) {
          events.taken(t, data);
          ++shown;
        }
      } else {
        const auto queued = queued_messages(id, t.ref, seen[i]);
        uint32_t total = 0;
        rk_count_mbx(id, t.ref, &total);
        for (const QueuedMessage& m : queued) {
          events.message(t, m);
          ++shown;
        }
        seen[i] = total;
      }
    } else {
      events.value(t, t.type, buffer.data(), false);
      ++shown;
    }
    std::cout.flush();
    fflush(stdout);
  }
  return 0;
}

}  // namespace rkctl
