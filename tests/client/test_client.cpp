// A scripted client process for the multi-process tests. It reads one
// command per line on standard input and answers each with one line,
// "ok [values]" or "err <error number>", so the test decides the order of
// events through the pipe. It never closes what it holds unless told to.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>

#include "platform/attachment.h"
#include "platform/kgd_segment.h"
#include "platform/last_error.h"
#include "platform/mapping.h"
#include "platform/named_event.h"
#include "platform/named_mutex.h"
#include "platform/object_names.h"
#include "platform/process_info.h"
#include "platform/segments.h"

namespace {

using namespace rk;

void reply_ok(const std::string& values = "") {
  std::cout << "ok" << (values.empty() ? "" : " ") << values << std::endl;
}
void reply_err(int err) { std::cout << "err " << err << std::endl; }
void reply_handle(os::Handle h) { h != 0 ? reply_ok(std::to_string(h)) : reply_err(os::last_error()); }
void reply_rc(int rc) { rc == 0 ? reply_ok() : reply_err(rc); }

// Addresses and poked values are hexadecimal; handles and counts decimal.
uint32_t hex(const std::string& s) { return static_cast<uint32_t>(strtoul(s.c_str(), nullptr, 16)); }
uint32_t dec(const std::string& s) { return static_cast<uint32_t>(strtoul(s.c_str(), nullptr, 10)); }

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

void run(const std::string& line) {
  std::istringstream in(line);
  std::string cmd, a, b, c;
  in >> cmd >> a >> b >> c;
  if (cmd == "mapcreate") {
    reply_handle(os::mapping_create(a.c_str(), hex(b), c == "everyone"));
  } else if (cmd == "mapopen") {
    reply_handle(os::mapping_open(a.c_str()));
  } else if (cmd == "view") {
    void* v = os::map_view(dec(a), hex(b));
    v != nullptr ? reply_ok(std::to_string(reinterpret_cast<uintptr_t>(v))) : reply_err(os::last_error());
  } else if (cmd == "unview") {
    os::unmap_view(reinterpret_cast<void*>(hex(a))) ? reply_ok() : reply_err(os::last_error());
  } else if (cmd == "close") {
    os::close_handle(dec(a)) ? reply_ok() : reply_err(os::last_error());
  } else if (cmd == "poke") {
    *reinterpret_cast<volatile uint32_t*>(hex(a)) = hex(b);
    reply_ok();
  } else if (cmd == "peek") {
    reply_ok(std::to_string(*reinterpret_cast<volatile uint32_t*>(hex(a))));
  } else if (cmd == "mtxcreate") {
    reply_handle(os::mutex_create(a.c_str(), b == "everyone"));
  } else if (cmd == "mtxopen") {
    reply_handle(os::mutex_open(a.c_str()));
  } else if (cmd == "lock") {
    reply_rc(os::mutex_wait(dec(a)));
  } else if (cmd == "unlock") {
    reply_rc(os::mutex_release(dec(a)));
  } else if (cmd == "evcreate") {
    reply_handle(os::event_create(a.c_str(), b == "everyone"));
  } else if (cmd == "evopen") {
    reply_handle(os::event_open(a.c_str()));
  } else if (cmd == "evwait") {
    reply_rc(os::event_wait(dec(a)));
  } else if (cmd == "evset") {
    reply_rc(os::event_set(dec(a)));
  } else if (cmd == "race") {
    int bad = race(a, atoi(b.c_str()), hex(c));
    bad >= 0 ? reply_ok(std::to_string(bad)) : reply_err(os::last_error());
  } else if (cmd == "kgdcreate") {
    os::Handle h = 0;
    Kgd* kgd = create_kgd(dec(a), 0, &h);
    if (kgd != nullptr) {
      attachment().kgd = kgd;
      attachment().kgd_handle = h;
      memcpy(kgd->name, b.c_str(), std::min<size_t>(b.size(), sizeof kgd->name - 1));
    }
    kgd != nullptr ? reply_ok(std::to_string(kgd->index)) : reply_err(os::last_error());
  } else if (cmd == "kgdopen") {
    Kgd* kgd = open_kgd(dec(a));
    if (kgd != nullptr) attachment().kgd = kgd;
    kgd != nullptr ? reply_ok(std::to_string(addr_of(kgd))) : reply_err(os::last_error());
  } else if (cmd == "mapnew") {
    // The entry is a Client Process Table entry at the given address.
    bool all = map_new_segments(a.empty() ? nullptr : at<CptEntry>(hex(a)));
    reply_ok(all ? "all" : "missing");
  } else if (cmd == "views") {
    // The handle of every segment view table pair, 0 where none is held.
    std::string out;
    const Attachment& att = attachment();
    for (uint32_t i = 1; att.kgd != nullptr && i < att.kgd->nsegs && i < att.nviews; ++i) {
      out += std::to_string(att.views[i].view != nullptr ? att.views[i].handle : 0) + " ";
    }
    reply_ok(out);
  } else if (cmd == "whoami") {
    std::cout << "ok " << os::process_id() << "|" << os::command_line() << "|" << os::executable_path()
              << std::endl;
  } else if (cmd == "exit") {
    exit(atoi(a.c_str()));
  } else {
    reply_err(EINVAL);
  }
}

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) run(line);
  return 0;
}
