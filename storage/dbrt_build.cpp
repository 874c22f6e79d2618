#include "storage/dbrt_build.h"

#include <cstring>

#include "core/crash_point.h"
#include "core/errors.h"
#include "core/intent_record.h"
#include "core/kernel_mutex.h"
#include "storage/dbrt_allocator.h"

namespace rk {

namespace {

constexpr uint32_t kBlockHeader = sizeof(DbrtBlockHeader);
// The largest array a segment below 4 GiB could hold, with its headers.
constexpr uint64_t kMaxArrayBytes = 0xFFFFFFFFu - 64;

// Existing types may only gain tags; everything else about them, the
// per-application flag included, must stay as it is. The usiz of a string or
// mailbox type tells only the record size of whoever wrote the table, so a
// 32-bit and a 64-bit process may each give their own (value_ksiz checks
// it); the table keeps the one it has.
bool same_usiz(const TypeEntry& want, const TypeEntry& now) {
  const bool records = now.stat == kKindString || now.stat == kKindMessage;
  return want.usiz == now.usiz || (records && want.usiz != 0 && now.usiz != 0);
}

int check_compatible(const Kgd* kgd, const TypeEntry* req, uint32_t count) {
  const uint32_t current = kgd->ntypes;
  if (count < current || count >= kTypeSlots) return kErrIncompatible;
  const TypeEntry* types = at<TypeEntry>(kgd->type_table);
  bool grows = count > current;
  for (uint32_t i = 0; i < current; ++i) {
    const TypeEntry& now = types[i];
    const TypeEntry& want = req[i];
    if (want.stat != now.stat || !same_usiz(want, now) || want.type_class != now.type_class ||
        (want.per_app != 0) != (now.per_app != 0) || memcmp(want.name, now.name, sizeof now.name) != 0 ||
        want.max < now.max) {
      return kErrIncompatible;
    }
    // A type whose max was set without a layout still needs its arrays.
    grows = grows || want.max > laid_out_max(now);
  }
  return grows ? 0 : kErrNothingToDo;
}

// Checks each entry's value kind and size and fills in what follows from them.
int check_kinds(TypeEntry* req, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    TypeEntry& t = req[i];
    const int32_t ksiz = value_ksiz(t.stat, t.usiz);
    if (ksiz < 0) return kErrBadTag;
    t.ksiz = static_cast<uint16_t>(ksiz);
    // Counted in 64 bits: 65535 values of 65534 bytes do not fit 32, and an
    // array that does not fit one segment cannot be placed.
    const uint64_t values = (uint64_t{t.ksiz} + 4) * t.max;
    if (values > kMaxArrayBytes) return kErrNoMemory;
    t.change_bytes = t.max * sizeof(ChangeEntry);
    t.value_bytes = static_cast<uint32_t>(values);
  }
  return 0;
}

// One placement pass: grows the arrays of every type whose max changes, or
// whose max was set without arrays for it.
// Returns the bytes still missing, with a block header for each array that
// did not fit.
uint64_t place_arrays(Kgd* kgd, const TypeEntry* req, uint32_t count) {
  TypeEntry* types = at<TypeEntry>(kgd->type_table);
  AppBlock* blocks = at<AppBlock>(kgd->app_blocks);
  uint64_t shortfall = 0;
  uint32_t failures = 0;
  // The array addresses are fields of packed records, reached through
  // memcpy only. A field names its new array only once the array is whole.
  auto grow = [&](uint32_t bytes, Addr* field) {
    if (dbrt_grow_field(kgd, bytes, field) != 0) {
      shortfall += bytes;
      ++failures;
    }
  };
  for (uint32_t i = 0; i < count; ++i) {
    const TypeEntry& t = req[i];
    if (t.max == laid_out_max(types[i])) continue;
    if (t.per_app == 0) grow(t.value_bytes, RK_FIELD_PTR(&types[i], shared_values));
    for (uint32_t a = 0; a < kgd->napps; ++a) {
      TagArrayPair* pair = at<TagArrayPair>(blocks[a].pairs) + i;
      if (t.per_app == 0) {
        logged_store(RK_FIELD_PTR(pair, value_array), types[i].shared_values);
      } else {
        grow(t.value_bytes, RK_FIELD_PTR(pair, value_array));
      }
      grow(t.change_bytes, RK_FIELD_PTR(pair, change_array));
    }
  }
  return shortfall + uint64_t{kBlockHeader} * failures;
}

// Passes until everything fits or a pass gets no further than the one
// before it (growing one array frees its old block for the next).
uint64_t place_until_stuck(Kgd* kgd, const TypeEntry* req, uint32_t count) {
  uint64_t shortfall = place_arrays(kgd, req, count);
  for (uint64_t previous = ~uint64_t{0}; shortfall != 0 && shortfall != previous;) {
    previous = shortfall;
    shortfall = place_arrays(kgd, req, count);
  }
  return shortfall;
}

int place_all(Kgd* kgd, const TypeEntry* req, uint32_t count) {
  uint64_t shortfall = place_until_stuck(kgd, req, count);
  if (shortfall != 0 && kgd->nsegs >= 2) {
    if (dbrt_add_segment(kgd, 0) == nullptr) return kErrNoMemory;
    shortfall = place_until_stuck(kgd, req, count);
  }
  if (shortfall != 0) {
    if (shortfall > kMaxArrayBytes || dbrt_add_segment(kgd, static_cast<uint32_t>(shortfall)) == nullptr) {
      return kErrNoMemory;
    }
    shortfall = place_until_stuck(kgd, req, count);
  }
  return shortfall == 0 ? 0 : kErrNoMemory;
}

void commit(Kgd* kgd, const TypeEntry* req, uint32_t count) {
  TypeEntry* types = at<TypeEntry>(kgd->type_table);
  for (uint32_t i = 0; i < count; ++i) {
    TypeEntry& t = types[i];
    // Each type's count and sizes change together; a new type is not
    // counted until the end.
    Update update(kgd, kMutexIntent);
    if (i >= kgd->ntypes) {
      t.stat = req[i].stat;
      t.usiz = req[i].usiz;
      t.ksiz = req[i].ksiz;
      t.type_class = req[i].type_class;
      t.per_app = req[i].per_app;
      // Copied as a string: the bytes after a NUL become 0.
      strncpy(t.name, req[i].name, sizeof t.name);
    }
    RK_LOGGED(&t, max, req[i].max);
    RK_CRASH_POINT("dbrt.type.max");
    RK_LOGGED(&t, change_bytes, req[i].change_bytes);
    RK_LOGGED(&t, value_bytes, req[i].value_bytes);
  }
  RK_LOGGED(kgd, ntypes, count);
}

int build_locked(Kgd* kgd, TypeEntry* req, uint32_t count) {
  if (req == nullptr && count != 0) return kErrNullArg;
  if (int r = check_compatible(kgd, req, count)) return r;
  if (int r = check_kinds(req, count)) return r;
  if (int r = place_all(kgd, req, count)) return r;
  commit(kgd, req, count);
  return 0;
}

}  // namespace

int32_t value_ksiz(uint16_t stat, uint16_t usiz) {
  switch (stat) {
    case kKindPlain: return usiz != 0 && usiz % 2 == 0 ? usiz : -1;
    case kKindDigital: return usiz == kDigitalUsiz ? 0 : -1;
    // A string or mailbox type may come from a 32-bit or a 64-bit writer.
    case kKindString: return record_usiz(stat, usiz) ? int32_t{sizeof(StringDesc)} : -1;
    case kKindMessage: return record_usiz(stat, usiz) ? int32_t{sizeof(MsgQueue)} : -1;
    default: return -1;
  }
}

int dbrt_build(Kgd* kgd, TypeEntry* table, uint32_t count) {
  // The strict take: never counted as nested, so the build really excludes
  // every other holder.
  if (kmutex_take(-2) != 0) return kErrKernelMutex;
  int r = build_locked(kgd, table, count);
  kmutex_give(-1);
  return r;
}

}  // namespace rk
