// Commands on named objects, views and segments.
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "client/commands.h"
#include "core/attachment.h"
#include "core/kgd_segment.h"
#include "platform/last_error.h"
#include "platform/mapping.h"
#include "platform/named_event.h"
#include "platform/named_mutex.h"
#include "platform/object_names.h"
#include "platform/process_info.h"
#include "core/segments.h"

namespace rk::test {
namespace {

void reply_handle(os::Handle h) { h != 0 ? reply_value(h) : reply_err(os::last_error()); }
void reply_bool(bool ok) { ok ? reply_ok() : reply_err(os::last_error()); }

const RegisterCommand commands[] = {
    {"mapcreate", [](const Args& a) { reply_handle(os::mapping_create(a.str(0).c_str(), a.hex(1), a.str(2) == "everyone")); }},
    {"mapopen", [](const Args& a) { reply_handle(os::mapping_open(a.str(0).c_str())); }},
    {"view",
     [](const Args& a) {
       void* v = os::map_view(a.dec(0), a.hex(1));
       v != nullptr ? reply_value(reinterpret_cast<uintptr_t>(v)) : reply_err(os::last_error());
     }},
    // "occupy <address> <bytes>": memory of this process's own exactly there,
    // as a heap or a JIT would put it.
    {"occupy",
     [](const Args& a) {
       void* want = reinterpret_cast<void*>(static_cast<uintptr_t>(a.hex(0)));
       void* p = mmap(want, a.hex(1), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
       if (p == MAP_FAILED) return reply_err(errno);
       if (p != want) return reply_err(EEXIST);
       reply_ok();
     }},
    {"unview", [](const Args& a) { reply_bool(os::unmap_view(reinterpret_cast<void*>(a.hex(0)))); }},
    {"close", [](const Args& a) { reply_bool(os::close_handle(a.dec(0))); }},
    {"poke",
     [](const Args& a) {
       // Any address, aligned or not: copied, never through a typed pointer.
       const uint32_t value = a.hex(1);
       memcpy(reinterpret_cast<void*>(a.hex(0)), &value, sizeof value);
       reply_ok();
     }},
    {"peek",
     [](const Args& a) {
       uint32_t value;
       memcpy(&value, reinterpret_cast<const void*>(a.hex(0)), sizeof value);
       reply_value(value);
     }},
    {"mtxcreate", [](const Args& a) { reply_handle(os::mutex_create(a.str(0).c_str(), a.str(1) == "everyone")); }},
    {"mtxopen", [](const Args& a) { reply_handle(os::mutex_open(a.str(0).c_str())); }},
    {"lock", [](const Args& a) { reply_rc(os::mutex_wait(a.dec(0))); }},
    {"unlock", [](const Args& a) { reply_rc(os::mutex_release(a.dec(0))); }},
    {"evcreate", [](const Args& a) { reply_handle(os::event_create(a.str(0).c_str(), a.str(1) == "everyone")); }},
    {"evopen", [](const Args& a) { reply_handle(os::event_open(a.str(0).c_str())); }},
    {"evwait", [](const Args& a) { reply_rc(os::event_wait(a.dec(0))); }},
    {"evset", [](const Args& a) { reply_rc(os::event_set(a.dec(0))); }},
    {"hold", [](const Args& a) { reply_bool(os::mapping_hold(a.dec(0))); }},
    {"holdalone", [](const Args& a) { os::mapping_hold_alone(a.dec(0)) ? reply_ok() : reply_err(0); }},
    // A bare kgd under the given name, attached as this process's RTDB.
    {"kgdcreate",
     [](const Args& a) {
       os::Handle h = 0;
       Kgd* kgd = create_kgd(a.dec(0), 0, &h);
       if (kgd == nullptr) return reply_err(os::last_error());
       attachment().kgd = kgd;
       attachment().kgd_handle = h;
       memcpy(kgd->name, a.str(1).c_str(), std::min<size_t>(a.str(1).size(), sizeof kgd->name - 1));
       reply_value(kgd->index);
     }},
    {"kgdopen",
     [](const Args& a) {
       Kgd* kgd = map_kgd(a.dec(0));
       if (kgd == nullptr) return reply_err(os::last_error());
       attachment().kgd = kgd;
       reply_value(addr_of(kgd));
     }},
    // Maps new segments for the Client Process Table entry at the given address.
    {"mapnew",
     [](const Args& a) {
       bool all = map_new_segments(a.size() == 0 ? nullptr : at<CptEntry>(a.hex(0)));
       reply_ok(all ? "all" : "missing");
     }},
    // The handle of every segment view table pair, 0 where none is held.
    {"views",
     [](const Args&) {
       std::string out;
       const Attachment& att = attachment();
       for (uint32_t i = 1; att.kgd != nullptr && i < att.kgd->nsegs && i < att.nviews; ++i) {
         out += std::to_string(att.views[i].view != nullptr ? att.views[i].handle : 0) + " ";
       }
       reply_ok(out);
     }},
    {"whoami",
     [](const Args&) {
       reply_ok(std::to_string(os::process_id()) + "|" + os::command_line() + "|" + os::executable_path());
     }},
    {"exit", [](const Args& a) { exit(a.dec(0)); }},
};

}  // namespace
}  // namespace rk::test
