// rkctl watch: one line per change of the watched tags, until Ctrl-C.
#include <sys/time.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

#include "tools/rkctl/commands.h"
#include "tools/rkctl/failure.h"
#include "tools/rkctl/interrupts.h"
#include "tools/rkctl/mailbox_view.h"
#include "tools/rkctl/tag_values.h"

namespace rkctl {

namespace {

constexpr uint16_t kMailbox = 3;
constexpr int kTerminated = 27;

std::string now_text() {
  timeval tv;
  gettimeofday(&tv, nullptr);
  tm t;
  localtime_r(&tv.tv_sec, &t);
  char b[32];
  snprintf(b, sizeof b, "%02d:%02d:%02d.%03ld", t.tm_hour, t.tm_min, t.tm_sec, static_cast<long>(tv.tv_usec / 1000));
  return b;
}

// One tag with a value buffer of its own, to show what a scan read.
struct Watched {
  std::vector<NamedTag> one;
  std::unique_ptr<PackedValues> value;
  uint32_t seen = 0;   // mailbox: messages shown so far
};

}  // namespace

int watch_tags(const Target& target, const std::vector<std::string>& names, bool take, int64_t count) {
  Session s(target);
  const std::vector<NamedTag> tags = resolve_tags(names);
  std::vector<rk_tag_ref> refs;
  std::vector<Watched> watched(tags.size());
  size_t room = 0;
  for (size_t i = 0; i < tags.size(); ++i) {
    refs.push_back(tags[i].ref);
    watched[i].one = {tags[i]};
    watched[i].value = std::make_unique<PackedValues>(watched[i].one);
    room = std::max(room, element_size(tags[i].type));
  }
  const auto n = static_cast<uint32_t>(refs.size());
  const rk_client_id id = s.id();

  // Only what changes from now on is news to us.
  rk_clear_chng(id, refs.data(), n);
  for (size_t i = 0; i < tags.size(); ++i) {
    if (tags[i].type.stat == kMailbox) {
      const auto queued = queued_messages(id, tags[i].ref);
      watched[i].seen = static_cast<uint32_t>(queued.size());
      printf("%s %s = %zu message(s)\n", now_text().c_str(), tags[i].name.c_str(), queued.size());
    } else if (rk_read_no_clear(id, &tags[i].ref, 1, watched[i].value->data()) == 0) {
      printf("%s %s = %s\n", now_text().c_str(), tags[i].name.c_str(), watched[i].value->text(0).c_str());
    }
  }
  printf("watching %u tag(s) of %s in %s/%s\n", n, s.rtdb().c_str(), s.where().domain.c_str(),
         s.where().instance.c_str());
  fflush(stdout);

  std::vector<char> text(65535);
  std::vector<uint8_t> buffer(std::max<size_t>(room, sizeof(rk_message_record)));
  uint32_t position = 0;
  int64_t shown = 0;
  while (count == 0 || shown < count) {
    // A string read lands in our text buffer; whatever else is read overwrites the descriptor.
    const rk_string_desc d{text.data(), 65535, 0};
    memcpy(buffer.data(), &d, sizeof d);
    if (position >= n) position = 0;   // a scan that found nothing leaves it at the end
    if (rk_change_wait(id, refs.data(), n, &position, buffer.data()) != 0) {
      const int err = rk_errno(id);
      if (err == kTerminated || interrupted()) break;
      if (err == 11) continue;   // woken without a change
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
          printf("%s %s <- %s\n", now_text().c_str(), t.name.c_str(), data.c_str());
          ++shown;
        }
      } else {
        const auto queued = queued_messages(id, t.ref, std::min<uint32_t>(watched[i].seen, 0xFFFFFFFF));
        uint32_t total = 0;
        rk_count_mbx(id, t.ref, &total);
        for (const QueuedMessage& m : queued) {
          printf("%s %s <- %s\n", now_text().c_str(), t.name.c_str(), describe(m).c_str());
          ++shown;
        }
        watched[i].seen = total;
      }
    } else {
      memcpy(watched[i].value->data(), buffer.data(), element_size(t.type));
      printf("%s %s = %s\n", now_text().c_str(), t.name.c_str(), watched[i].value->text(0).c_str());
      ++shown;
    }
    fflush(stdout);
  }
  return 0;
}

}  // namespace rkctl
