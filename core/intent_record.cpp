#include "core/intent_record.h"

#include "core/attachment.h"
#include "core/check_text.h"
#include "core/crash_point.h"
#include "core/kgd_words.h"
#include "core/segments.h"
#include "platform/process_info.h"

namespace rk {

namespace {

struct OpenUpdate {
  IntentRecord* record = nullptr;
  int depth = 0;
};

thread_local OpenUpdate t_open[2];
thread_local IntentRecord* t_current = nullptr;
thread_local IntentArea* t_area = nullptr;

// A shared address for p, or 0 when p lies beyond what one can name.
Addr shared_addr(const void* p, uint32_t len) {
  const uintptr_t a = reinterpret_cast<uintptr_t>(p);
  return a != 0 && a <= uintptr_t{0xFFFFFFFF} - len ? static_cast<Addr>(a) : 0;
}

// Whether [a, a + len) lies in one segment of the RTDB that this process
// maps: only such memory is put back by a repair.
bool inside_rtdb(const Kgd* kgd, Addr a, uint32_t len) {
  const Attachment& att = attachment();
  const uint32_t n = load_nsegs(kgd);
  for (uint32_t i = 0; i < n; ++i) {
    const SegEntry* seg = seg_entry(kgd, i);
    const uint64_t base = seg->base;
    if (a < base || uint64_t{a} + len > base + seg->size) continue;
    return i == 0 || (i < att.nviews && att.views != nullptr && att.views[i].view != nullptr);
  }
  return false;
}

void put_word(const Kgd* kgd, const IntentWord& w) {
  const uint32_t width = w.width;
  const uint32_t value = w.old;
  if ((width == 1 || width == 2 || width == 4) && inside_rtdb(kgd, w.addr, width)) {
    std::memcpy(at<void>(w.addr), &value, width);
  }
}

// Copies the rest of a move from where it stands, piece by piece, noting
// its progress after each piece, then makes its redo stores.
void finish_move(const Kgd* kgd, IntentRecord* r) {
  const IntentMove m = r->move;
  const bool sound = m.dst < m.src && m.chunk != 0 && m.chunk <= m.src - m.dst && m.done <= m.len &&
                     m.nredo <= kIntentRedo && inside_rtdb(kgd, m.dst, m.len) && inside_rtdb(kgd, m.src, m.len);
  if (sound) {
    for (uint32_t done = m.done; done < m.len;) {
      const uint32_t piece = m.len - done < m.chunk ? m.len - done : m.chunk;
      std::memcpy(at<uint8_t>(m.dst + done), at<uint8_t>(m.src + done), piece);
      store_order();
      done += piece;
      r->move.done = done;
      store_order();
      RK_CRASH_POINT("move.piece");
    }
    for (uint16_t i = 0; i < m.nredo; ++i) put_word(kgd, m.redo[i]);
  }
  store_order();
  r->move.src = 0;
  store_order();
}

}  // namespace

IntentRecord* open_intent() { return t_current; }

Update::Update(const Kgd* kgd, IntentKind kind) : kind_(kind), outer_(t_current) {
  OpenUpdate& o = t_open[kind];
  if (o.depth++ == 0) {
    o.record = intent_record(kgd, kind);
    if (IntentRecord* r = o.record) {
      // A record left open by a holder that died and was never repaired is
      // repaired before it is written again.
      if (r->state != 0) intent_repair(const_cast<Kgd*>(kgd), kind, true);
      t_area = at<IntentArea>(kgd->intents);
      r->count = 0;
      r->bytes_at = 0;
      r->zero_at = 0;
      r->move.src = 0;
      r->pid = os::process_id();
      r->start = os::own_start_time();
      store_order();
      r->state = kIntentOpen;
      store_order();
    }
  }
  t_current = o.record;
}

Update::~Update() {
  OpenUpdate& o = t_open[kind_];
  if (--o.depth == 0 && o.record != nullptr) {
    store_order();
    o.record->state = 0;
    store_order();
  }
  t_current = outer_;
}

void intent_log(const void* p, uint32_t width) {
  IntentRecord* r = t_current;
  const Addr a = shared_addr(p, width);
  if (r == nullptr || a == 0) return;
  const uint16_t n = r->count;
  if (n >= kIntentWords) return;
  IntentWord w{a, 0, static_cast<uint16_t>(width)};
  uint32_t old = 0;
  std::memcpy(&old, p, width);
  w.old = old;
  r->words[n] = w;
  store_order();
  r->count = static_cast<uint16_t>(n + 1);
  store_order();
}

void logged_copy(void* p, const void* from, uint32_t len) {
  auto* to = static_cast<uint8_t*>(p);
  const auto* src = static_cast<const uint8_t*>(from);
  for (uint32_t done = 0; done < len;) {
    const uint32_t width = len - done >= 4 ? 4 : len - done >= 2 ? 2 : 1;
    if (t_current != nullptr) intent_log(to + done, width);
    std::memcpy(to + done, src + done, width);
    store_order();
    done += width;
  }
}

bool intent_keep_bytes(const void* p, uint32_t len) {
  IntentRecord* r = t_current;
  const Addr a = shared_addr(p, len);
  if (r == nullptr || a == 0 || len == 0) return true;
  IntentArea* area = t_area;
  if (r->bytes_at != 0 || area->buffer == 0 || area->capacity < len) return false;
  std::memcpy(at<void>(area->buffer), p, len);
  store_order();
  r->bytes_len = len;
  store_order();
  r->bytes_at = a;
  store_order();
  return true;
}

void intent_zero_on_undo(const void* p, uint32_t len) {
  IntentRecord* r = t_current;
  const Addr a = shared_addr(p, len);
  if (r == nullptr || a == 0 || len == 0) return;
  r->zero_len = len;
  store_order();
  r->zero_at = a;
  store_order();
}

void intent_settle() {
  if (IntentRecord* r = t_current) {
    store_order();
    r->count = 0;
    r->bytes_at = 0;
    r->zero_at = 0;
    store_order();
  }
}

void intent_move_begin(const void* dst, const void* src, uint32_t len, const IntentWord* redo, uint16_t nredo) {
  IntentRecord* r = t_current;
  const Addr d = shared_addr(dst, len);
  const Addr s = shared_addr(src, len);
  IntentMove m{};
  m.src = s;
  m.dst = d;
  m.len = len;
  m.chunk = s - d;
  m.nredo = nredo;
  for (uint16_t i = 0; i < nredo && i < kIntentRedo; ++i) m.redo[i] = redo[i];
  if (r == nullptr || d == 0 || s == 0 || d >= s) {
    // Nothing to announce: made at once.
    std::memmove(const_cast<void*>(dst), src, len);
    for (uint16_t i = 0; i < nredo; ++i) {
      const uint32_t v = redo[i].old;
      std::memcpy(at<void>(redo[i].addr), &v, redo[i].width);
    }
    return;
  }
  // The source marks the move as announced: stored last, once every other
  // field is this move's, so that a kill in between leaves no move at all
  // rather than this one's source with an earlier one's rest.
  m.src = 0;
  r->move.src = 0;
  store_order();
  r->move = m;
  store_order();
  r->move.src = s;
  store_order();
}

void intent_move_run() {
  IntentRecord* r = t_current;
  if (r == nullptr || r->move.src == 0) return;
  finish_move(attachment().kgd, r);
}

std::string intent_check(const Kgd* kgd) {
  static const char* const kNames[] = {"intent record of the data", "intent record of the kernel tables"};
  for (uint32_t k = 0; k < 2; ++k) {
    const IntentRecord* r = intent_record(kgd, static_cast<IntentKind>(k));
    if (r == nullptr) continue;
    if (r->state != 0) return check_text("%s: an update of process %u was left open", kNames[k], r->pid);
    if (r->count > kIntentWords || r->move.nredo > kIntentRedo) {
      return check_text("%s: counts beyond its capacity", kNames[k]);
    }
  }
  return "";
}

void intent_repair(Kgd* kgd, IntentKind kind, bool only_if_dead) {
  IntentRecord* r = intent_record(kgd, kind);
  if (r == nullptr || r->state == 0) return;
  if (only_if_dead && os::process_alive(r->pid, r->start)) return;
  map_new_segments(nullptr);
  if (r->move.src != 0) finish_move(kgd, r);
  RK_CRASH_POINT("repair.moved");
  if (r->bytes_at != 0) {
    const IntentArea* area = at<IntentArea>(kgd->intents);
    const uint32_t len = r->bytes_len;
    if (len <= area->capacity && inside_rtdb(kgd, r->bytes_at, len) && inside_rtdb(kgd, area->buffer, len)) {
      std::memcpy(at<void>(r->bytes_at), at<void>(area->buffer), len);
    }
    store_order();
    r->bytes_at = 0;
    store_order();
  }
  if (r->zero_at != 0) {
    if (inside_rtdb(kgd, r->zero_at, r->zero_len)) std::memset(at<void>(r->zero_at), 0, r->zero_len);
    store_order();
    r->zero_at = 0;
    store_order();
  }
  RK_CRASH_POINT("repair.bytes");
  // Last first: a word stored twice gets its oldest value back. Each is
  // put back before the count forgets it, so a repair cut off here is
  // simply done again.
  for (uint16_t n = r->count; n > 0; --n) {
    put_word(kgd, r->words[n - 1]);
    store_order();
    r->count = static_cast<uint16_t>(n - 1);
    store_order();
    RK_CRASH_POINT("repair.word");
  }
  r->state = 0;
  store_order();
  // A segment published inside the update is no longer counted: this
  // process lets go of its view, so that the segment made anew is mapped.
  forget_unpublished_views();
}

}  // namespace rk
