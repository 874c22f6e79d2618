#include "services/tag_list_check.h"

#include <algorithm>
#include <vector>

#include "core/client_ids.h"
#include "core/check_text.h"
#include "core/list_blocks.h"
#include "storage/kernel_memory.h"
#include "storage/memory_pool.h"

namespace rk {

namespace {

struct ListBlockOf {
  Addr block;
  uint32_t id;
};

std::string check_slot(const Kgd* kgd, const CptEntry& e, uint32_t id, std::vector<ListBlockOf>* blocks) {
  const uint32_t count = e.list_count;
  const uint32_t handle = e.list_handle;
  if (count == 0) {
    if (handle != 0) return check_text("no list, handle 0x%x", handle);
    return list_left(&e) ? "no list, but marked as left behind" : "";
  }
  const uint32_t bytes = count * sizeof(TagRef);
  if (bytes >= kTagListLimitBytes) return check_text("%u references", count);
  const Addr block = mem_block(kgd, handle);
  if (block == 0) return check_text("handle 0x%x names no block", handle);
  if (block_capacity(block) < bytes)
    return check_text("block of %u bytes for %u references", block_capacity(block), count);
  blocks->push_back(ListBlockOf{block, id});
  return "";
}

}  // namespace

std::string tag_list_check(const Kgd* kgd) {
  std::vector<ListBlockOf> blocks;
  for (uint32_t a = 0; a < kgd->napps; ++a) {
    const AppBlock* app = app_block(kgd, a);
    for (uint32_t s = 0; s < kSlots; ++s) {
      const uint32_t id = a << 8 | s;
      if (std::string f = check_slot(kgd, app->cpt[s], id, &blocks); !f.empty())
        return check_text("tag list 0x%04x: ", id) + f;
    }
  }
  std::sort(blocks.begin(), blocks.end(), [](const ListBlockOf& x, const ListBlockOf& y) { return x.block < y.block; });
  const auto twice = std::adjacent_find(blocks.begin(), blocks.end(),
                                        [](const ListBlockOf& x, const ListBlockOf& y) { return x.block == y.block; });
  if (twice != blocks.end())
    return check_text("tag list 0x%04x: its block is also the list of 0x%04x", twice[1].id, twice[0].id);
  return "";
}

}  // namespace rk
