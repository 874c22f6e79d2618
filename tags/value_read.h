// Reading one tag's value into the caller's element, by value kind.
#pragma once

#include <cstdint>

#include "tags/tag_walk.h"

namespace rk {

// Plain bytes are copied, a digital value becomes a u16 0 or 1, a string is
// copied into the caller's descriptor's buffer (one without a buffer gets
// nothing); each clears own_bit, the reader's own change bit (0 for a read
// that clears nothing), from the change word. A mailbox read takes
// the first message and leaves the change bits to the queue, which clears
// them when it runs empty (in every application, for a shared mailbox).
// Returns 0 or the error number of the take.
int16_t read_value(Kgd* kgd, const TypeRun& run, const TagSite& site, uint8_t* element, uint16_t id,
                   uint32_t own_bit);

// As read_value, for the change scans: a mailbox is only looked at. The
// first message's record goes to the caller's record and the queue and the
// change bits stay, so a mailbox stays changed for as long as it holds a
// message. Returns 0 or the error number of the peek.
int16_t read_changed_value(Kgd* kgd, const TypeRun& run, const TagSite& site, uint8_t* element, uint16_t id,
                           uint32_t own_bit);

}  // namespace rk
