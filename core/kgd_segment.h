// Segment 0 of an RTDB: the kgd mapping, named "RKNT_RK000%03d" after its
// kgd index and mapped in every process at the RKDLLBASE address.
#pragma once

#include <cstdint>

#include "core/records.h"
#include "platform/handles.h"

namespace rk {

constexpr uint32_t kDefaultBase = 0x20800000;

// The mapping address of the kgd in this process: RKDLLBASE read as
// hexadecimal, or the default when it is absent or reads as 0.
uint32_t kgd_base_address();

// Creates segment 0 of `size` bytes under the first free kgd index, maps it
// and stamps the index, the creator and the next free mapping address.
// Null on failure, with the kernel's message written.
Kgd* create_kgd(uint32_t size, uint16_t flags, os::Handle* handle);

// Opens and maps the kgd of `index`; it becomes this process's kgd handle.
// Null when it does not exist or cannot be mapped here; no message.
Kgd* open_kgd(uint32_t index);

// Ends this process's attachment: unmaps every segment view, frees the view
// table, unmaps the kgd and closes its handle.
void unmap_all(Kgd* kgd);

}  // namespace rk
