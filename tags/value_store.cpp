#include "tags/value_store.h"

#include "core/attachment.h"
#include "core/crash_point.h"
#include "core/intent_record.h"

namespace rk {

void store_value_bytes(uint8_t* cell, const uint8_t* from, uint32_t n) {
  switch (n) {
    case 2: return store_value<2>(cell, from);
    case 4: return store_value<4>(cell, from);
    case 8:
      if constexpr (kOneStoreBytes >= 8) return store_value<8>(cell, from);
      break;
    default: break;
  }
  Update update(attachment().kgd, kDataIntent);
  intent_keep_bytes(cell, n);
  RK_CRASH_POINT("value.kept");
  // Half of it: a kill here leaves a torn value that the repair puts back.
  std::memcpy(cell, from, n / 2);
  RK_CRASH_POINT("value.half");
  std::memcpy(cell + n / 2, from + n / 2, n - n / 2);
}

}  // namespace rk
