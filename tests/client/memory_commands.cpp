// Commands on kernel memory. Client ids, handles and seeds are decimal;
// failures reply "err <error number>".
#include "client/commands.h"
#include "rk.h"
#include "support/memory_pattern.h"

namespace rk::test {
namespace {

uint16_t id_of(const Args& a) { return static_cast<uint16_t>(a.dec(0)); }
uint32_t handle_of(const Args& a) { return static_cast<uint32_t>(strtoul(a.str(1).c_str(), nullptr, 10)); }

void reply_call(const Args& a, int rc, const std::string& values = "") {
  rc == 0 ? reply_ok(values) : reply_err(rk_errno(id_of(a)));
}

// Runs `use` on the block's payload while the client holds the database
// lock, so that no allocation moves it meanwhile.
template <typename Use>
void with_block(const Args& a, Use use) {
  if (rk_lock(id_of(a)) != 0) return reply_err(rk_errno(id_of(a)));
  void* payload = nullptr;
  uint32_t bytes = 0;
  const int rc = rk_access_mem(id_of(a), handle_of(a), &payload, &bytes);
  const uint32_t value = rc == 0 ? use(payload, bytes, static_cast<uint32_t>(a.dec(2))) : 0;
  rk_unlock(id_of(a));
  reply_call(a, rc, std::to_string(value));
}

const RegisterCommand commands[] = {
    // "memalloc <id> <bytes>": "ok <handle>".
    {"memalloc",
     [](const Args& a) {
       rk_mem_handle h = 0;
       const int rc = rk_alloc_mem(id_of(a), static_cast<uint32_t>(a.dec(1)), &h);
       reply_call(a, rc, std::to_string(h));
     }},
    // "memaccess <id> <handle>": "ok <address> <bytes>".
    {"memaccess",
     [](const Args& a) {
       void* payload = nullptr;
       uint32_t bytes = 0;
       const int rc = rk_access_mem(id_of(a), handle_of(a), &payload, &bytes);
       reply_call(a, rc, std::to_string(reinterpret_cast<uintptr_t>(payload)) + " " + std::to_string(bytes));
     }},
    {"memfree", [](const Args& a) { reply_call(a, rk_free_mem(id_of(a), handle_of(a))); }},
    // "memfill <id> <handle> <seed>": fills the whole payload with the pattern.
    {"memfill",
     [](const Args& a) {
       with_block(a, [](void* p, uint32_t bytes, uint32_t seed) {
         fill_pattern(p, bytes, seed);
         return 0u;
       });
     }},
    // "memcheck <id> <handle> <seed>": "ok <words that differ from the pattern>".
    {"memcheck", [](const Args& a) { with_block(a, pattern_errors); }},
};

}  // namespace
}  // namespace rk::test
