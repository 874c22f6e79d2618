// Commands on client ids, the kernel mutex and client events. Client ids
// are decimal, as the kernel functions take them (-1, -2, -3 included).
#include <cerrno>

#include "client/commands.h"
#include "core/client_events.h"
#include "core/client_ids.h"
#include "core/kernel_mutex.h"
#include "core/attachment.h"
#include "core/kernel_objects.h"
#include "core/kgd_segment.h"
#include "platform/last_error.h"

namespace rk::test {
namespace {

uint16_t id_of(const Args& a, size_t i) { return static_cast<uint16_t>(a.dec(i)); }

// The live entry an id names, resolved as an operation without the ownership rule would.
CptEntry* entry_of(const Args& a) { return resolve_entry(resolve_app(id_of(a, 0)), id_of(a, 0)); }

const RegisterCommand commands[] = {
    // Attaches to the RTDB of a kgd index as a registering client does: the kgd and the mutexes.
    {"rtdbopen",
     [](const Args& a) {
       Kgd* kgd = map_kgd(a.dec(0));
       if (kgd == nullptr) return reply_err(os::last_error());
       attachment().kgd = kgd;
       open_mutexes(kgd);
       attachment().mutexes[kKernelMutex] != 0 ? reply_ok() : reply_err(os::last_error());
     }},
    {"take", [](const Args& a) { reply_value(kmutex_take(a.dec(0))); }},
    {"give", [](const Args& a) { reply_value(kmutex_give(a.dec(0))); }},
    {"owned", [](const Args& a) { reply_value(resolve_owned(resolve_app(id_of(a, 0)), id_of(a, 0)) != nullptr); }},
    {"errno", [](const Args& a) { reply_value(rk_errno(id_of(a, 0))); }},
    {"openev",
     [](const Args& a) {
       CptEntry* e = entry_of(a);
       if (e == nullptr) return reply_err(EINVAL);
       open_events(e);
       reply_ok();
     }},
    {"closeev", [](const Args& a) { reply_value(close_events(entry_of(a))); }},
    {"waitev", [](const Args& a) { reply_value(wait_own_event(id_of(a, 0))); }},
    {"post", [](const Args& a) { reply_value(post_event(a.dec(0), id_of(a, 1))); }},
};

}  // namespace
}  // namespace rk::test
