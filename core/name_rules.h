// How clients and applications are found by name: a slot by its task name
// (or by the numeric form "#<application>:<slot>"), the first free slot, the
// entry of a process, and an application by its domain and instance names.
// Names are compared ignoring case.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/records.h"

namespace rk {

// Characters of a task name that a slot keeps; longer names are cut, and
// compared over this many characters.
constexpr size_t kTaskNameChars = sizeof(CptEntry::name) - 1;

// True when the text field of `width` bytes (NUL-terminated, or using all
// the bytes) holds exactly `text`, ignoring case.
bool field_equals(const char* field, size_t width, const char* text);

// True when the application belongs to the domain (its kusr record's name).
bool app_in_domain(const Kgd* kgd, const AppBlock* app, const char* domain);

// A name in the numeric form gives (application << 8) + slot, unchecked
// (each number is capped at 0xFFFF). Otherwise the first slot of app whose
// task name equals the name, whatever its state; -1 for none, for an empty
// name, or for no app.
int32_t slot_by_name(const AppBlock* app, const char* name);

// True when the entry's task name is `name`, compared as slot_by_name does.
bool has_task_name(const CptEntry& entry, const char* name);

// The slot of app that `name` names by slot_by_name, or -1; also -1 when
// the numeric form names no slot of this application (an application part
// other than 0, or a slot of 31 or more), as registration refuses it.
int32_t slot_in_app(const AppBlock* app, const char* name);

// The first slot with an empty task name, or -1.
int32_t free_slot(const AppBlock* app);

// Over all applications of the attached RTDB in index order and slots
// 0..30, the first entry of process `pid`, whatever its state; null for
// none or when no RTDB is attached.
CptEntry* entry_by_pid(uint32_t pid);

// The first application of the attached RTDB whose domain (kusr name) and
// instance name are the given ones, active or not; null for none, or when
// no valid RTDB is attached.
AppBlock* app_by_names(const char* domain, const char* instance);

// As app_by_names in kgd, whatever its state.
AppBlock* app_by_names_in(const Kgd* kgd, const char* domain, const char* instance);

// As app_by_names, but only active applications count.
AppBlock* active_app_by_names(const char* domain, const char* instance);

}  // namespace rk
