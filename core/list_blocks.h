// The tag-list block a slot leaves behind when it is set up for a new
// client. The slot's list fields go to zero at once, under the kernel mutex,
// and whoever took the block off the slot frees it: the one who clears the
// fields owns the block, so a list installed meanwhile is never freed twice.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

struct ListBlock {
  uint32_t handle = 0;
  bool held = false;    // false: the slot had no list
};

// Takes the slot's list off it, leaving handle and count zero. Kernel mutex
// held.
ListBlock detach_list(CptEntry* e);

// Frees a detached block now if nobody holds the database lock: the lock is
// granted only under the kernel mutex, so no client is inside the memory
// pools meanwhile. The segments this process does not map yet are mapped
// first. True when the block is gone (or there was none); false leaves it
// to the caller (also when a segment cannot be mapped here). Kernel mutex
// held.
bool free_list_if_unlocked(Kgd* kgd, const ListBlock& block);

// Frees the blocks that free_list_if_unlocked left, each once nobody holds
// the database lock: looks under the kernel mutex, and between looks sleeps
// a millisecond, for at most a second; a block still held then is lost to
// the pools. For a process that is no client. Kernel mutex not held.
void free_lists_when_unlocked(Kgd* kgd, ListBlock* blocks, uint32_t count);

// Frees a detached block under the database lock of the client `id`, whose
// entry is e. For a client that has just registered. Kernel mutex not held.
void free_list_as(Kgd* kgd, CptEntry* e, uint16_t id, const ListBlock& block);

}  // namespace rk
