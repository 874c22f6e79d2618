// Finding an RTDB by its name, as application start and registration do.
#pragma once

#include "core/kgd_address.h"
#include "core/records.h"

namespace rk {

// The RTDB named `name` (case ignored), attached to this process: the one
// attached already if its name is that, else the first kgd index 0..31
// whose RTDB has that name, which is attached here (*attached_now tells
// so). Its state is not looked at. Null when there is none; also when this
// process is attached to another RTDB, since a process serves one RTDB at
// a time (every kgd is mapped at the same address). A kgd that has no
// place in this process is passed over, and *why tells so.
Kgd* find_rtdb(const char* name, bool* attached_now, KgdRefusal* why = nullptr);

}  // namespace rk
