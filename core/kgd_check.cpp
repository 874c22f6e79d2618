#include "core/kgd_check.h"

#include <cstring>

#include "core/client_ids.h"

namespace rk {

namespace {

constexpr uint64_t kPairBytes = kTypeSlots * sizeof(TagArrayPair);

bool counts_in_limits(const Kgd* kgd, uint32_t index) {
  return memcmp(kgd->magic, "RKK", 4) == 0 && kgd->layout == kKgdLayout && kgd->index == index &&
         kgd->napps <= kMaxApps && kgd->nappdata == kgd->napps && kgd->running_apps >= 0 &&
         kgd->running_apps <= static_cast<int32_t>(kMaxApps) && kgd->maxsegs >= kSegmentsAdded &&
         kgd->maxsegs <= kMaxSegTable &&
         kgd->nsegs >= 1 && kgd->nsegs <= kgd->maxsegs && kgd->nmems <= kgd->maxmems &&
         kgd->maxtypes == kTypeSlots && kgd->ntypes <= kgd->maxtypes && kgd->ndbrt <= kgd->maxdbrt &&
         kgd->nextra <= kgd->maxextra && kgd->hist_cap == kHistoryCap && kgd->hist_next < kHistoryCap;
}

// 0, or the address of a Client Process Table entry of this RTDB.
bool entry_or_none(const Kgd* kgd, Addr a) { return a == 0 || client_id_of(kgd, at<CptEntry>(a)) >= 0; }

}  // namespace

Segment0Plan plan_segment0(uint64_t apps, uint64_t kusrs, uint64_t maxsegs, uint64_t memories) {
  Segment0Plan p{};
  uint64_t used = kSegTableOffset + maxsegs * sizeof(SegEntry);
  auto take = [&used](uint64_t bytes) {
    const uint64_t at = used;
    used += bytes;
    return at;
  };
  p.kusr_table = take(kusrs * sizeof(KusrRecord));
  p.app_blocks = take(apps * sizeof(AppBlock));
  p.mem_table = take(memories * sizeof(MemEntry));
  p.app_data = take(apps * sizeof(AppData));
  p.type_table = take(kTypeSlots * sizeof(TypeEntry));
  p.pairs = take(apps * kPairBytes);
  p.hist_ids = take(kHistoryCap * sizeof(uint16_t));
  p.hist_pids = take(kHistoryCap * sizeof(uint32_t));
  p.event_table = take(apps * kSlots * apps * kSlots * sizeof(uint32_t));
  p.intents = take(sizeof(IntentArea) + kIntentBytes);
  p.size = used;
  return p;
}

bool kgd_trusted(const Kgd* kgd, uint32_t size, uint32_t index, bool own) {
  if (size < sizeof(Kgd) || !counts_in_limits(kgd, index)) return false;
  if (!own && (kgd->flags & kFlagEveryone) == 0) return false;
  const Segment0Plan p = plan_segment0(kgd->napps, kgd->nkusrs, kgd->maxsegs, kgd->maxmems);
  if (p.size != size) return false;
  const Addr base = addr_of(kgd);
  const SegEntry* seg0 = at<SegEntry>(base + kSegTableOffset);
  const uint64_t end = base + static_cast<uint64_t>(size);
  if (end > 0xFFFFFFFFull || kgd->seg_table != base + kSegTableOffset || seg0->base != base || seg0->size != size ||
      kgd->next_free < end) {
    return false;
  }
  const Addr expected[] = {base + static_cast<Addr>(p.kusr_table), base + static_cast<Addr>(p.app_blocks),
                           base + static_cast<Addr>(p.mem_table),  base + static_cast<Addr>(p.app_data),
                           base + static_cast<Addr>(p.type_table), base + static_cast<Addr>(p.hist_ids),
                           base + static_cast<Addr>(p.hist_pids),  base + static_cast<Addr>(p.event_table),
                           base + static_cast<Addr>(p.intents)};
  const Addr found[] = {kgd->kusr_table, kgd->app_blocks, kgd->mem_table, kgd->app_data,
                        kgd->type_table, kgd->hist_ids,   kgd->hist_pids, kgd->event_table,
                        kgd->intents};
  if (memcmp(expected, found, sizeof expected) != 0) return false;
  for (uint32_t a = 0; a < kgd->napps; ++a) {
    const AppBlock* app = app_block(kgd, a);
    if (app->pairs != base + p.pairs + a * kPairBytes || app->kusr >= kgd->nkusrs) return false;
  }
  const IntentArea* intents = at<IntentArea>(kgd->intents);
  if (intents->buffer != kgd->intents + sizeof(IntentArea) || intents->capacity != kIntentBytes) return false;
  return entry_or_none(kgd, kgd->lock_holder) && entry_or_none(kgd, kgd->queue_head);
}

}  // namespace rk
