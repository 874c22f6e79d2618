// Tag loops of the random-kill campaigns: writers store values of every
// kind, each made from a number so that its parts tell each other (a wide
// value's pattern, the halves of an 8-byte one, the bytes of 4- and 2-byte
// ones, a string whose text names its length), and readers check that
// every value they read is one a writer made, whole. The kinds are six
// consecutive types from <first type>, in this order: plain 4096 bytes,
// plain 8, string, plain 4, plain 2, digital; each with <tags> tags.
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "client/commands.h"
#include "client/loop_log.h"
#include "rk.h"
#include "support/memory_pattern.h"

namespace rk::test {
namespace {

enum Kind : uint16_t { kWide, kDouble, kText, kWord, kHalf, kDigital, kKinds };

constexpr uint32_t kWideBytes = 4096;
constexpr uint16_t kTextSize = 64;

// Each element's size in the caller's packed buffer.
uint32_t element_bytes(Kind k) {
  constexpr uint32_t sizes[kKinds] = {kWideBytes, 8, sizeof(rk_string_desc), 4, 2, 2};
  return sizes[k];
}

// The upper word of an 8-byte value: the low bits of a mix of the lower
// word, under an exponent that makes the value a finite double.
uint32_t double_high(uint32_t low) { return 0x40000000u | ((low * 2654435761u) >> 12); }

std::string text_of(uint32_t n) {
  std::string text = std::to_string(n) + ":";
  for (uint32_t i = 0; i < n % 40; ++i) text += static_cast<char>('a' + (n + i) % 26);
  return text;
}

// A batch of tags with their values packed as the kernel steps through them;
// the string elements point into texts_.
class Batch {
 public:
  Batch(uint16_t first_type, uint16_t tags) : first_type_(first_type), tags_(tags) {}

  void add(Kind k, uint16_t index) {
    refs_.push_back(rk_tag_ref{static_cast<uint16_t>(first_type_ + k), index});
    kinds_.push_back(k);
    values_.resize(values_.size() + element_bytes(k));
    texts_.emplace_back(kTextSize, '\0');
  }
  void add_all() {
    for (uint16_t k = 0; k < kKinds; ++k) {
      for (uint16_t i = 0; i < tags_; ++i) add(static_cast<Kind>(k), i);
    }
  }
  uint32_t size() const { return static_cast<uint32_t>(refs_.size()); }

  // Element e made from number n.
  void set(uint32_t e, uint32_t n) {
    uint8_t* at = element(e);
    switch (kinds_[e]) {
      case kWide: {
        uint32_t words[kWideBytes / 4];
        fill_pattern(words, kWideBytes, n);
        memcpy(at, words, sizeof words);
        break;
      }
      case kDouble: {
        const uint32_t halves[2] = {n, double_high(n)};
        memcpy(at, halves, sizeof halves);
        break;
      }
      case kText: {
        const std::string text = text_of(n);
        memcpy(texts_[e].data(), text.data(), text.size());
        put_desc(e, static_cast<uint16_t>(text.size()));
        break;
      }
      case kWord: {
        const uint32_t v = (n & 0xFFFF) | (~n << 16);
        memcpy(at, &v, sizeof v);
        break;
      }
      case kHalf: {
        const uint16_t v = static_cast<uint16_t>((n & 0xFF) | ((~n & 0xFF) << 8));
        memcpy(at, &v, sizeof v);
        break;
      }
      case kDigital: {
        const uint16_t v = static_cast<uint16_t>(n & 1);
        memcpy(at, &v, sizeof v);
        break;
      }
      case kKinds: break;
    }
  }

  // Empty descriptors with room for any text, for a read.
  void prepare_read() {
    for (uint32_t e = 0; e < size(); ++e) {
      if (kinds_[e] == kText) put_desc(e, 0);
    }
  }

  // Null when element e holds a value some writer made, whole; else what is wrong.
  const char* fault(uint32_t e) const {
    const uint8_t* at = element(e);
    switch (kinds_[e]) {
      case kWide: {
        uint32_t words[kWideBytes / 4];
        memcpy(words, at, sizeof words);
        return words[0] == 0 || pattern_errors(words, kWideBytes, words[0]) != 0 ? "wide torn" : nullptr;
      }
      case kDouble: {
        uint32_t halves[2];
        memcpy(halves, at, sizeof halves);
        return halves[0] == 0 || halves[1] != double_high(halves[0]) ? "double torn" : nullptr;
      }
      case kText: {
        rk_string_desc d;
        memcpy(&d, at, sizeof d);
        const std::string text(texts_[e].data(), std::min<size_t>(d.length, kTextSize));
        const uint32_t n = static_cast<uint32_t>(strtoul(text.c_str(), nullptr, 10));
        if (d.buffer != texts_[e].data() || d.size != kTextSize) return "descriptor changed";
        return text != text_of(n) ? "text torn" : nullptr;
      }
      case kWord: {
        uint32_t v;
        memcpy(&v, at, sizeof v);
        return (v >> 16) != (~v & 0xFFFF) ? "word torn" : nullptr;
      }
      case kHalf: {
        uint16_t v;
        memcpy(&v, at, sizeof v);
        return (v >> 8) != (~v & 0xFF) ? "half torn" : nullptr;
      }
      case kDigital: {
        uint16_t v;
        memcpy(&v, at, sizeof v);
        return v > 1 ? "digital not 0 or 1" : nullptr;
      }
      case kKinds: break;
    }
    return "kind";
  }

  const rk_tag_ref* refs() const { return refs_.data(); }
  void* values() { return values_.data(); }
  const rk_tag_ref& ref(uint32_t e) const { return refs_[e]; }

 private:
  uint8_t* element(uint32_t e) { return values_.data() + offset(e); }
  const uint8_t* element(uint32_t e) const { return values_.data() + offset(e); }
  uint32_t offset(uint32_t e) const {
    uint32_t at = 0;
    for (uint32_t i = 0; i < e; ++i) at += element_bytes(kinds_[i]);
    return at;
  }
  void put_desc(uint32_t e, uint16_t length) {
    const rk_string_desc d{texts_[e].data(), kTextSize, length};
    memcpy(element(e), &d, sizeof d);
  }

  uint16_t first_type_, tags_;
  std::vector<rk_tag_ref> refs_;
  std::vector<Kind> kinds_;
  std::vector<uint8_t> values_;
  std::vector<std::vector<char>> texts_;
};

uint16_t u16(const Args& a, size_t i) { return static_cast<uint16_t>(a.dec(i)); }

const RegisterCommand commands[] = {
    // tagfillall <id> <first type> <tags> <number>: every tag made from the number.
    {"tagfillall",
     [](const Args& a) {
       Batch b(u16(a, 1), u16(a, 2));
       b.add_all();
       for (uint32_t e = 0; e < b.size(); ++e) b.set(e, static_cast<uint32_t>(a.dec(3)));
       const rk_client_id id = u16(a, 0);
       rk_write(id, b.refs(), b.size(), b.values()) == 0 ? reply_ok() : reply_err(rk_errno(id));
     }},
    // tagwriteloop <id> <first type> <tags> <first number> <rng seed> <log>:
    // writes random batches, each element made from the next number, until
    // a line arrives. "ok <batches> <fault>", the fault "-" when none.
    {"tagwriteloop",
     [](const Args& a) {
       const rk_client_id id = u16(a, 0);
       uint32_t n = static_cast<uint32_t>(a.dec(3));
       std::mt19937 rng(static_cast<uint32_t>(a.dec(4)));
       const LoopLog log(a.str(5));
       uint32_t batches = 0;
       std::string fault = log.open_ok() ? "-" : "log";
       while (fault == "-" && !line_waiting()) {
         Batch b(u16(a, 1), u16(a, 2));
         for (uint16_t k = 0; k < kKinds; ++k) {
           for (uint16_t i = 0; i < u16(a, 2); ++i) {
             if (rng() % 2 == 0) b.add(static_cast<Kind>(k), i);
           }
         }
         for (uint32_t e = 0; e < b.size(); ++e) b.set(e, n++);
         if (rk_write(id, b.refs(), b.size(), b.values()) != 0) {
           fault = "write/" + std::to_string(rk_errno(id));
           log.line("fault " + fault);
         }
         ++batches;
       }
       reply_ok(std::to_string(batches) + " " + fault);
     }},
    // tagreadloop <id> <first type> <tags> <log> <min batches>: reads every
    // tag in one batch and checks each value, at least <min batches> times
    // and until a line arrives; each fault is logged at once. "ok <batches>
    // <faults>".
    {"tagreadloop",
     [](const Args& a) {
       const rk_client_id id = u16(a, 0);
       const LoopLog log(a.str(3));
       Batch b(u16(a, 1), u16(a, 2));
       b.add_all();
       const uint32_t min_batches = static_cast<uint32_t>(a.dec(4));
       uint32_t batches = 0, faults = log.open_ok() ? 0 : 1;
       while (faults == 0 && (batches < min_batches || !line_waiting())) {
         b.prepare_read();
         if (rk_read(id, b.refs(), b.size(), b.values()) != 0) {
           log.line("fault read/" + std::to_string(rk_errno(id)));
           ++faults;
         }
         for (uint32_t e = 0; e < b.size(); ++e) {
           if (const char* f = b.fault(e)) {
             log.line("fault " + std::string(f) + " type " + std::to_string(b.ref(e).type) + " index " +
                      std::to_string(b.ref(e).index));
             ++faults;
           }
         }
         ++batches;
       }
       reply_ok(std::to_string(batches) + " " + std::to_string(faults));
     }},
};

}  // namespace
}  // namespace rk::test
