// A slot's tag list outlives its client: a client that leaves keeps its
// list in the slot. Whoever sets the slot up for somebody new (a
// registration, the start of the instance, a process record) marks the
// list left behind, and it is freed, in one update with the slot's fields,
// as soon as somebody may: at once when nobody holds the database lock,
// else by the new client under its first lock, before its registration
// returns. Until then the block stays in the slot, so a process killed in
// between leaves it to the next one and the pools lose nothing.
#pragma once

#include <cstdint>

#include "core/records.h"

namespace rk {

struct ListBlock {
  uint32_t handle = 0;
  bool held = false;    // false: the slot had no list
};

// Whether the slot's list is one left behind by an earlier client.
bool list_left(const CptEntry* e);

// Marks the slot's list, if it has one, as left behind. Kernel mutex held.
void leave_list(CptEntry* e);

// Takes the slot's list off it, leaving handle, count and mark zero; the
// caller frees the block. Inside an update of data, kernel mutex held.
ListBlock detach_list(CptEntry* e);

// Frees the list the slot left behind now if nobody holds the database
// lock: the lock is granted only under the kernel mutex, so no client is
// inside the memory pools meanwhile. The segments this process does not
// map yet are mapped first. True when the slot has no such list left (also
// when it had none). Kernel mutex held.
bool free_left_list_if_unlocked(Kgd* kgd, CptEntry* e);

// Frees the list that the slot of the client `id` (entry e) left behind,
// under the client's database lock. For a client that has just registered.
// Kernel mutex not held.
void free_left_list_as(Kgd* kgd, CptEntry* e, uint16_t id);

// Frees the lists that the slots of the application left behind, each once
// nobody holds the database lock: looks under the kernel mutex, and between
// looks sleeps a millisecond, for at most a second; a list still there then
// stays in its slot for the next one who sets the slot up. For a process
// that is no client. Kernel mutex not held.
void free_left_lists_when_unlocked(Kgd* kgd, AppBlock* app);

}  // namespace rk
