// Commands on named objects, views and segments.
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

// The inode behind a view of ours, from the process's own map.
unsigned long view_inode(void* view) {
  char path[64];
  snprintf(path, sizeof path, "/proc/self/map_files/%lx-%lx", reinterpret_cast<unsigned long>(view),
           reinterpret_cast<unsigned long>(view) + 4096);
  struct stat st;
  return stat(path, &st) == 0 ? st.st_ino : 0;
}

// Creates or opens `name` over and over, checking each time that the name
// leads to the very object held: two objects under one name would show as
// a held object whose name leads elsewhere or nowhere.
int race(const std::string& name, int rounds, uint32_t address) {
  int bad = 0;
  for (int i = 0; i < rounds; ++i) {
    os::Handle h = os::mapping_create(name.c_str(), 4096, false);
    if (h == 0) h = os::mapping_open(name.c_str());
    if (h == 0) continue;   // removed between our two calls: try again
    void* view = os::map_view(h, address);
    if (view == nullptr) return -1;
    struct stat st;
    std::string file = "/dev/shm" + os::object_path(name.c_str());
    if (stat(file.c_str(), &st) != 0 || st.st_ino != view_inode(view)) ++bad;
    os::unmap_view(view);
    os::close_handle(h);
  }
  return bad;
}

const RegisterCommand commands[] = {
    {"mapcreate", [](const Args& a) { reply_handle(os::mapping_create(a.str(0).c_str(), a.hex(1), a.str(2) == "everyone")); }},
    {"mapopen", [](const Args& a) { reply_handle(os::mapping_open(a.str(0).c_str())); }},
    {"view",
     [](const Args& a) {
       void* v = os::map_view(a.dec(0), a.hex(1));
       v != nullptr ? reply_value(reinterpret_cast<uintptr_t>(v)) : reply_err(os::last_error());
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
    {"race",
     [](const Args& a) {
       int bad = race(a.str(0), a.dec(1), a.hex(2));
       bad >= 0 ? reply_value(bad) : reply_err(os::last_error());
     }},
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
       Kgd* kgd = open_kgd(a.dec(0));
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
