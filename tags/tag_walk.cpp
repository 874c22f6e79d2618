#include "tags/tag_walk.h"

namespace rk {

bool TypeRun::look_up(const Kgd* kgd, const AppBlock* app, uint16_t t) {
  if (t >= kgd->ntypes || t >= kTypeSlots) return false;
  const TypeEntry* entry = at<TypeEntry>(kgd->type_table) + t;
  const uint16_t bytes = entry->usiz;
  // A type given its tags but not laid out yet has no arrays to follow.
  if (bytes == 0 || !laid_out(*entry)) return false;
  type = t;
  kind = entry->stat;
  element = element_bytes(kind, bytes);
  max = entry->max;
  ksiz = entry->ksiz;
  per_app = entry->per_app != 0;
  changes = values = 0;
  if (app->pairs != 0) {
    const TagArrayPair* pair = at<TagArrayPair>(app->pairs) + t;
    changes = pair->change_array;
    values = pair->value_array;
  }
  // Arrays that are not placed hold no tags.
  if (changes == 0 || values == 0) max = 0;
  return true;
}

}  // namespace rk
