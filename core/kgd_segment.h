// Segment 0 of an RTDB: the kgd mapping, named "RKNT_RK000%03d" after its
// kgd index and mapped in every process at the RKDLLBASE address. The kgd
// is the RTDB's anchor: every process attached to the RTDB holds it (a
// shared flock), and an RTDB whose kgd nobody holds is dead: every process
// that used it is gone, and the first process that finds it so removes
// every name of it.
#pragma once

#include <cstdint>

#include "core/kgd_address.h"
#include "core/records.h"
#include "platform/handles.h"

namespace rk {

// Creates segment 0 of `size` bytes under the first free kgd index (a dead
// RTDB's index is free once it is removed), holds and maps it at the
// RKDLLBASE address (kgd_address.h) and stamps the index, the creator and
// the next free mapping address. Null on failure, with the kernel's
// messages written.
Kgd* create_kgd(uint32_t size, uint16_t flags, os::Handle* handle);

// Opens, holds and maps the kgd of `index` at the RKDLLBASE address,
// whatever it holds; it becomes this process's kgd handle. A dead RTDB found
// there is removed. Null when there is none or it cannot be mapped here; no
// message, but when the address was what refused it, *why (if given) says
// so for the caller to report.
Kgd* map_kgd(uint32_t index, KgdRefusal* why = nullptr);

// map_kgd, for a kgd that is a trusted RTDB (see kgd_trusted) only: the way
// every caller that uses what it finds opens a kgd.
Kgd* open_kgd(uint32_t index, KgdRefusal* why = nullptr);

// Ends this process's attachment: unmaps every segment view, frees the view
// table, unmaps the kgd, releases the address window and lets go of the kgd.
// When this process was the last to hold the RTDB, every name of it is
// removed first.
void unmap_all(Kgd* kgd);

// Whether this process is the last to hold the attached RTDB; when it is,
// removes every name of the RTDB. Otherwise the process keeps holding it.
// Used as the process ends normally.
bool remove_if_last(const Kgd* kgd);

}  // namespace rk
