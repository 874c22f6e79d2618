// The Attribute Table: 32 named bits shared by every application, read and
// filled under the kernel mutex so that two processes never take the same
// free slot. Slots are only ever filled, never emptied.
#include <bit>
#include <cstring>

#include "core/crash_point.h"
#include "core/intent_record.h"
#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/errors.h"
#include "core/kernel_mutex.h"
#include "rk.h"

using namespace rk;

namespace {

// A caller's record, copied out of its array whatever its alignment.
AttrRecord record_at(const AttrRecord* records, uint32_t i) {
  AttrRecord r;
  memcpy(&r, &records[i], sizeof r);
  return r;
}

// The slot holds the record's length and its leading bytes. The comparison
// never goes past the 32 name bytes, whatever either length says.
bool same_attr(const AttrRecord& slot, const AttrRecord& r) {
  if (slot.length != r.length || r.length < 0) return false;
  const size_t bytes = r.length > kAttrNameBytes ? kAttrNameBytes : static_cast<size_t>(r.length);
  return memcmp(slot.name, r.name, bytes) == 0;
}

bool used(const AttrRecord& slot) { return slot.name[0] != 0; }

constexpr uint32_t bit_of(int slot) { return 1u << slot; }

// A record that can name no attribute: it could never be found again, or
// it would mark its slot unused.
bool definable(const AttrRecord& r) { return r.length >= 0 && r.name[0] != 0; }

// Resolves the caller, refuses missing arrays with 10 and takes the kernel
// mutex, under which the table is read and filled. Null when the call ends
// there with -1.
CptEntry* open_table(rk_client_id id, bool arrays_given) {
  CptEntry* e = resolve_owned(resolve_app(id), id);
  if (e == nullptr) return nullptr;
  if (!arrays_given) {
    refuse_call(e, kErrNullArg);
    return nullptr;
  }
  return kmutex_take(id) == 0 ? e : nullptr;
}

}  // namespace

extern "C" {

RK_API int rk_define_attr(rk_client_id id, uint32_t count, const rk_attr_record* records, uint32_t* bits_out) {
  CptEntry* e = open_table(id, records != nullptr && bits_out != nullptr);
  if (e == nullptr) return -1;
  AttrRecord* table = attachment().kgd->attrs;
  int16_t error = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const AttrRecord r = record_at(records, i);
    if (!definable(r)) {
      bits_out[i] = 0;
      if (error == 0) error = kErrRange;
      continue;
    }
    int found = -1, free_slot = -1;
    for (int s = 0; s < kAttrSlots && found < 0; ++s) {
      if (!used(table[s])) {
        if (free_slot < 0) free_slot = s;
      } else if (same_attr(table[s], r)) {
        found = s;
      }
    }
    if (found < 0 && free_slot >= 0) {
      AttrRecord stored = r;
      if (stored.length > kAttrNameBytes) stored.length = kAttrNameBytes;
      // The record changes whole or not at all, whenever its writer dies.
      Update update(attachment().kgd, kMutexIntent);
      logged_copy(&table[free_slot], &stored, sizeof stored);
      RK_CRASH_POINT("attr.defined");
      found = free_slot;
    }
    if (found < 0) {
      if (error == 0) error = kErrAttrFull;
      break;
    }
    bits_out[i] = bit_of(found);
  }
  kmutex_give(id);
  return error == 0 ? 0 : refuse_call(e, error);
}

RK_API int rk_get_attr_name(rk_client_id id, uint32_t count, rk_attr_record* records_out, const uint32_t* bits) {
  CptEntry* e = open_table(id, records_out != nullptr && bits != nullptr);
  if (e == nullptr) return -1;
  const AttrRecord* table = attachment().kgd->attrs;
  bool bit0 = false;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t bit = bits[i];
    if (bit == 0) {
      bit0 = true;
      continue;
    }
    memcpy(&records_out[i], &table[std::countr_zero(bit)], sizeof(AttrRecord));
  }
  kmutex_give(id);
  return bit0 ? refuse_call(e, kErrAttrBit0) : 0;
}

// Looks at every slot, used or not: an unused one holds length 0.
RK_API int rk_get_attr_bit(rk_client_id id, uint32_t count, const rk_attr_record* records, uint32_t* bits_out) {
  CptEntry* e = open_table(id, records != nullptr && bits_out != nullptr);
  if (e == nullptr) return -1;
  const AttrRecord* table = attachment().kgd->attrs;
  bool missing = false;
  for (uint32_t i = 0; i < count; ++i) {
    const AttrRecord r = record_at(records, i);
    uint32_t bit = 0;
    for (int s = 0; s < kAttrSlots && bit == 0; ++s) {
      if (same_attr(table[s], r)) bit = bit_of(s);
    }
    bits_out[i] = bit;
    if (bit == 0) missing = true;
  }
  kmutex_give(id);
  return missing ? refuse_call(e, kErrNoAttr) : 0;
}

}  // extern "C"
