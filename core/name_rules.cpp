#include "core/name_rules.h"

#include <strings.h>

#include <cstring>

#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/kgd_words.h"

namespace rk {

namespace {

constexpr uint32_t kNumberCap = 0xFFFF;

// Reads the decimal digits at *p (at least one), capped so that the
// numeric form can never wrap into a small slot number.
bool read_number(const char** p, uint32_t* value) {
  const char* s = *p;
  uint32_t v = 0;
  while (*s >= '0' && *s <= '9') {
    v = v * 10 + static_cast<uint32_t>(*s - '0');
    if (v > kNumberCap) v = kNumberCap;
    ++s;
  }
  if (s == *p) return false;
  *p = s;
  *value = v;
  return true;
}

// The value of a name of the form "#<digits>:<digits>", or -1.
int32_t numeric_slot(const char* name) {
  const char* p = name;
  uint32_t app = 0, slot = 0;
  if (*p++ != '#' || !read_number(&p, &app) || *p++ != ':' || !read_number(&p, &slot) || *p != '\0') return -1;
  return static_cast<int32_t>((app << 8) + slot);
}

const Kgd* valid_kgd() {
  const Kgd* kgd = attachment().kgd;
  return kgd != nullptr && rtdb_ready(kgd) ? kgd : nullptr;
}

AppBlock* find_app_in(const Kgd* kgd, const char* domain, const char* instance, bool active_only) {
  if (kgd == nullptr || domain == nullptr || instance == nullptr) return nullptr;
  for (uint32_t a = 0; a < kgd->napps; ++a) {
    AppBlock* app = app_block(kgd, a);
    if (active_only && app->active != 1) continue;
    if (app_in_domain(kgd, app, domain) && field_equals(app->instance, sizeof app->instance, instance)) return app;
  }
  return nullptr;
}

}  // namespace

bool field_equals(const char* field, size_t width, const char* text) {
  const size_t n = strnlen(text, width + 1);
  return n <= width && strncasecmp(field, text, width) == 0;
}

bool app_in_domain(const Kgd* kgd, const AppBlock* app, const char* domain) {
  if (app->kusr >= kgd->nkusrs) return false;
  const KusrRecord& kusr = at<KusrRecord>(kgd->kusr_table)[app->kusr];
  return field_equals(kusr.name, sizeof kusr.name, domain);
}

int32_t slot_by_name(const AppBlock* app, const char* name) {
  if (name == nullptr) return -1;
  const int32_t numeric = numeric_slot(name);
  if (numeric >= 0) return numeric;
  // A free slot has an empty name, which no client is looked up by.
  if (app == nullptr || name[0] == '\0') return -1;
  for (int32_t s = 0; s < kSlots; ++s) {
    if (has_task_name(app->cpt[s], name)) return s;
  }
  return -1;
}

bool has_task_name(const CptEntry& entry, const char* name) {
  return name != nullptr && strncasecmp(entry.name, name, kTaskNameChars) == 0;
}

int32_t slot_in_app(const AppBlock* app, const char* name) {
  const int32_t slot = slot_by_name(app, name);
  return slot < kSlots ? slot : -1;
}

int32_t free_slot(const AppBlock* app) {
  if (app == nullptr) return -1;
  for (int32_t s = 0; s < kSlots; ++s) {
    if (app->cpt[s].name[0] == '\0') return s;
  }
  return -1;
}

CptEntry* entry_by_pid(uint32_t pid) {
  const Kgd* kgd = attachment().kgd;
  // Free slots have process id 0.
  if (kgd == nullptr || pid == 0) return nullptr;
  for (uint32_t a = 0; a < kgd->napps; ++a) {
    AppBlock* app = app_block(kgd, a);
    for (CptEntry& e : app->cpt) {
      if (e.pid == pid) return &e;
    }
  }
  return nullptr;
}

AppBlock* app_by_names(const char* domain, const char* instance) {
  return find_app_in(valid_kgd(), domain, instance, false);
}

AppBlock* app_by_names_in(const Kgd* kgd, const char* domain, const char* instance) {
  return find_app_in(kgd, domain, instance, false);
}

AppBlock* active_app_by_names(const char* domain, const char* instance) {
  return find_app_in(valid_kgd(), domain, instance, true);
}

}  // namespace rk
