// The RTDB this process is attached to, as the lifecycle calls see it.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

// Attaches a kgd view that open_kgd or create_kgd made.
void attach_kgd(Kgd* kgd);

// Ends the attachment: closes the mutexes, unmaps every view and forgets
// the kgd.
void detach_rtdb();

// Forgets the attached kgd but keeps this process's views mapped, as the
// deletion of an RTDB does: other threads of the process may still read it.
void forget_rtdb();

// Deletes the attached RTDB: its name is cleared (nobody finds it any more),
// its state becomes 0, and this process gives up the handles it made for it.
// The views stay mapped unless unmap_views; the process is detached.
void delete_attached_rtdb(bool unmap_views);

// True when the RTDB name of a kgd equals `name`, ignoring case.
bool rtdb_name_is(const Kgd* kgd, const char* name);

}  // namespace rk
