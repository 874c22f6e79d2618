// Creating an RTDB: segment 0 with the kgd and every fixed kernel table,
// the named mutexes and client events, the kusr records and the tag layout.
#include <cstring>

#include "core/attachment.h"
#include "core/errors.h"
#include "core/kgd_check.h"
#include "core/kernel_objects.h"
#include "core/kernel_time.h"
#include "core/kgd_segment.h"
#include "core/kgd_words.h"
#include "core/rtdb.h"
#include "core/rtdb_lookup.h"
#include "core/text_fields.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "storage/dbrt_build.h"
#include "rk.h"

namespace rk {

namespace {

uint64_t segment0_size(uint64_t apps, uint64_t kusrs, uint64_t segments, uint64_t memories) {
  return plan_segment0(apps, kusrs, segments + kSegmentsAdded, memories).size;
}

// Takes bytes from the front of the free part of segment 0.
Addr carve(SegEntry& seg0, uint32_t bytes) {
  if (bytes > seg0.free) return 0;
  Addr a = seg0.base + seg0.used;
  seg0.used += bytes;
  seg0.free -= bytes;
  return a;
}

// Lays the fixed tables out in their order; false when segment 0 falls short.
bool carve_tables(Kgd* kgd, SegEntry& seg0, uint32_t apps, uint32_t kusrs, uint32_t memories) {
  kgd->kusr_table = carve(seg0, kusrs * sizeof(KusrRecord));
  kgd->app_blocks = carve(seg0, apps * sizeof(AppBlock));
  kgd->mem_table = carve(seg0, memories * sizeof(MemEntry));
  kgd->app_data = carve(seg0, apps * sizeof(AppData));
  kgd->type_table = carve(seg0, kTypeSlots * sizeof(TypeEntry));
  AppBlock* blocks = at<AppBlock>(kgd->app_blocks);
  for (uint32_t a = 0; a < apps; ++a) {
    blocks[a].pairs = carve(seg0, kTypeSlots * sizeof(TagArrayPair));
    if (blocks[a].pairs == 0) return false;
  }
  kgd->hist_ids = carve(seg0, kHistoryCap * 2);
  kgd->hist_pids = carve(seg0, kHistoryCap * 4);
  kgd->event_table = carve(seg0, apps * kSlots * apps * kSlots * 4);
  kgd->intents = carve(seg0, sizeof(IntentArea) + kIntentBytes);
  if (kgd->intents != 0) {
    at<IntentArea>(kgd->intents)->buffer = kgd->intents + sizeof(IntentArea);
    at<IntentArea>(kgd->intents)->capacity = kIntentBytes;
  }
  kgd->hist_cap = kHistoryCap;
  return kgd->type_table != 0 && kgd->hist_ids != 0 && kgd->hist_pids != 0 && kgd->intents != 0 &&
         (apps == 0 || (kgd->app_blocks != 0 && kgd->event_table != 0));
}

// The RTDB name must be findable by registration, which reads RKNAME into
// 16 bytes: at most 15 characters, and not empty (an empty name marks a
// deleted RTDB).
bool valid_rtdb_name(const char* name) {
  return name != nullptr && name[0] != '\0' && strnlen(name, sizeof(Kgd::name)) < sizeof(Kgd::name);
}

bool name_taken(const char* name, KgdRefusal* why) {
  bool attached_now = false;
  if (find_rtdb(name, &attached_now, why) == nullptr) return false;
  detach_rtdb();
  return true;
}

// A creation that fails leaves nothing: the half-built RTDB is deleted and
// every view the attempt mapped is unmapped, so that a corrected retry in
// this process finds the address range free again.
int fail_creation(Kgd* kgd, int error) {
  kgd->running_apps = 0;
  kgd->state = 1;
  delete_attached_rtdb(true);
  return -error;
}

}  // namespace

}  // namespace rk

using namespace rk;

extern "C" RK_API int rk_create_rtdb(const char* program_dir, const char* app_dir, const char* name,
                                     const rk_kusr* kusr_records, uint32_t kusr_count, rk_type_entry* layout,
                                     uint32_t layout_size, uint32_t segments, uint32_t memories, uint16_t flags) {
  Attachment& att = attachment();
  if (att.kgd != nullptr) return -1;
  if (!valid_rtdb_name(name) || (kusr_records == nullptr && kusr_count != 0) ||
      (layout == nullptr && layout_size != 0) || uint64_t{segments} + kSegmentsAdded > kMaxSegTable ||
      memories > kMaxPools) {
    return -kErrNullArg;
  }
  KgdRefusal why;
  if (name_taken(name, &why)) return -kErrNameExists;
  // An RTDB that could not be looked at may have this name; and a kgd that
  // has no place here leaves none for the new one either.
  if (why.any()) {
    console_write("KER: Shared memory mapping failed\n");
    why.report();
    return -kErrNoMemory;
  }

  uint64_t apps = 0;
  for (uint32_t k = 0; k < kusr_count; ++k) apps += kusr_records[k].instances;
  const uint64_t size = segment0_size(apps, kusr_count, segments, memories);
  if (apps > kMaxApps || size > kMaxSegment0) return -kErrNoMemory;

  os::Handle handle = 0;
  Kgd* kgd = create_kgd(static_cast<uint32_t>(size), flags, &handle);
  if (kgd == nullptr) return -kErrNoMemory;
  attach_kgd(kgd);
  att.kgd_handle = handle;
  att.created_kgd = true;

  kgd->create_tick = os::tick_count();
  kgd->maxsegs = segments + kSegmentsAdded;
  kgd->seg_table = addr_of(kgd) + kSegTableOffset;
  SegEntry& seg0 = at<SegEntry>(kgd->seg_table)[0];
  const uint32_t used = kSegTableOffset + kgd->maxsegs * sizeof(SegEntry);
  seg0 = SegEntry{addr_of(kgd), static_cast<uint32_t>(size), used, static_cast<uint32_t>(size) - used, handle, 0};
  kgd->nsegs = 1;
  kgd->flags = flags;
  copy_text(kgd->title, sizeof kgd->title, rk_get_title());
  copy_text(kgd->copyright, sizeof kgd->copyright, rk_get_copyrt());
  copy_text(kgd->name, sizeof kgd->name, name);
  copy_text(kgd->app_dir, sizeof kgd->app_dir, app_dir);
  copy_text(kgd->prog_dir, sizeof kgd->prog_dir, program_dir);
  kgd->version = kKernelVersion;
  kgd->maxmems = memories;
  kgd->maxextra = segments;
  kgd->maxdbrt = kMaxDbrtSegs;
  kgd->maxtypes = kTypeSlots;
  kgd->nkusrs = kusr_count;
  kgd->napps = kgd->nappdata = static_cast<uint32_t>(apps);
  if (!carve_tables(kgd, seg0, kgd->napps, kusr_count, memories)) return fail_creation(kgd, kErrNoMemory);

  if (!create_kernel_objects(kgd)) return fail_creation(kgd, kErrNoMemory);
  const Unaligned<uint32_t>* row = event_row(kgd, 0);
  att.nevents = kgd->napps * kSlots;
  att.created_events = new os::Handle[att.nevents];
  for (uint32_t c = 0; c < att.nevents; ++c) att.created_events[c] = row[c];

  KusrRecord* kusrs = at<KusrRecord>(kgd->kusr_table);
  AppBlock* blocks = at<AppBlock>(kgd->app_blocks);
  for (uint32_t k = 0, a = 0; k < kusr_count; ++k) {
    kusrs[k] = kusr_records[k];
    for (uint32_t i = 0; i < kusr_records[k].instances; ++i) blocks[a++].kusr = k;
  }

  if (int r = dbrt_build(kgd, layout, layout_size); r != 0) return fail_creation(kgd, r);

  kgd->running_apps = 0;
  memcpy(kgd->magic, "RKK", 4);
  kgd->layout = kKgdLayout;
  uint16_t now[8];
  rk_get_tick(nullptr, now);
  memcpy(&kgd->config_time, now, sizeof now);
  // Valid last: registration and client ids ignore a kgd in state 0.
  __atomic_store_n(state_word(kgd), 1, __ATOMIC_RELEASE);
  return static_cast<int>(kgd->index);
}
