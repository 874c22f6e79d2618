// The address window of a 64-bit process: the addresses from the kgd's up
// to 4 GiB, kept for the segments of the RTDB the process is attached to.
// Every segment lies below 4 GiB at the address recorded for it, so that a
// 32-bit shared address reaches it in every process; a 64-bit process keeps
// its allocator, its libraries and whatever else it maps off those
// addresses by covering them with an inaccessible placeholder that takes no
// memory. A view of a segment replaces the placeholder where it goes and
// puts it back as it leaves.
//
// A 32-bit process keeps no window: its address space is too scarce to give
// up, and its views take their places as they come.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rk::os {

// Bytes in a page of this machine.
uint32_t page_size();

// True where a window is kept (a 64-bit process).
bool address_window_kept();

// Makes sure that [base, base + need) lies in the window. A window that
// holds it already is kept; otherwise the window is reserved anew: from
// base up to the first address already taken in the process, or to 4 GiB
// (an earlier window is released first). False, with EEXIST, when fewer
// than `need` bytes from base are free; then nothing is reserved. Where no
// window is kept, true and nothing is done. *made tells whether this call
// reserved the window.
bool address_window_reserve(uint32_t base, uint32_t need, bool* made);

// Gives the window up: its placeholders go; views in it stay where they
// are, as mappings like any other.
void address_window_release();

// Where a view's range stands: in the window's free room (it is the
// view's now, until given back), outside the window, or over another view
// or the window's edge (the range is taken).
enum class WindowPlace { Inside, Outside, Taken };

// Claims [address, address + size) for a view. A range that runs past the
// window's end grows the window first, if the addresses there are free.
WindowPlace address_window_claim(uintptr_t address, size_t size);

// Gives the claim that begins at `address` back: the placeholder covers it
// again, which also unmaps whatever the view put there. False when no claim
// begins there.
bool address_window_give_back(uintptr_t address);

}  // namespace rk::os
