// A client's surroundings: the RTDB's name and directories, which never
// change once it is made, and the environment of a slot (its control,
// status and message tags and its configured command line), set up by the
// application's template and by rk_set_env. None of these take a lock or
// store an error number; a slot's fields may be read while another process
// rewrites them.
#include <cstring>

#include "core/attachment.h"
#include "core/client_ids.h"
#include "core/kgd_words.h"
#include "core/text_fields.h"
#include "rk.h"

using namespace rk;

namespace {

// The three tags of a slot, in the order of the entry's env_refs.
enum EnvTag { kControlTag, kStatusTag, kMessageTag, kEnvTags };

// The entry of the slot id names in the attached RTDB, whether a client is
// registered there or not, whatever the state of its application; null
// when nothing is attached or the slot does not exist.
CptEntry* configured_slot(uint16_t id) {
  const Kgd* kgd = attachment().kgd;
  return kgd != nullptr && names_slot(kgd, id) ? slot_entry(kgd, id) : nullptr;
}

rk_tag_ref tag_ref_of(uint32_t word) {
  rk_tag_ref ref;
  memcpy(&ref, &word, sizeof ref);
  return ref;
}

uint32_t word_of(const rk_tag_ref& ref) {
  uint32_t word;
  memcpy(&word, &ref, sizeof word);
  return word;
}

// One of the tags of the live client id.
int get_env_tag(rk_client_id id, rk_tag_ref* tag, EnvTag which) {
  const CptEntry* e = resolve_entry(resolve_app(id), id);
  if (e == nullptr || tag == nullptr) return -1;
  *tag = tag_ref_of(e->env_refs[which]);
  return 0;
}

static_assert(sizeof(Kgd::app_dir) == sizeof(Kgd::prog_dir), "both directories fill one caller's buffer");

// Copies a directory field of the attached RTDB (64 bytes).
int get_dir(char* buffer, const char* (*field)(const Kgd*)) {
  const Kgd* kgd = attachment().kgd;
  if (kgd == nullptr || buffer == nullptr) return -1;
  copy_field(buffer, field(kgd), sizeof kgd->app_dir);
  return 0;
}

}  // namespace

extern "C" {

RK_API int rk_get_name(char* buffer, int len) {
  const Kgd* kgd = attachment().kgd;
  if (kgd == nullptr || !rtdb_ready(kgd) || buffer == nullptr || len <= 0) return -1;
  copy_text(buffer, static_cast<size_t>(len), RtdbName(kgd).text);
  return 0;
}

RK_API int rk_get_app_dir(rk_client_id, char* buffer) {
  return get_dir(buffer, [](const Kgd* kgd) -> const char* { return kgd->app_dir; });
}

// Needs an attached RTDB like the application directory: without one there
// is nothing mapped to read.
RK_API int rk_get_pgm_dir(rk_client_id, char* buffer) {
  return get_dir(buffer, [](const Kgd* kgd) -> const char* { return kgd->prog_dir; });
}

RK_API int rk_get_cmd_line(rk_client_id id, char* buffer) {
  const CptEntry* e = resolve_entry(resolve_app(id), id);
  if (e == nullptr || buffer == nullptr) return -1;
  copy_field(buffer, e->cmdline, sizeof e->cmdline);
  return 0;
}

RK_API int rk_get_ctrl_tag(rk_client_id id, rk_tag_ref* tag) { return get_env_tag(id, tag, kControlTag); }

RK_API int rk_get_stat_tag(rk_client_id id, rk_tag_ref* tag) { return get_env_tag(id, tag, kStatusTag); }

RK_API int rk_get_msg_tag(rk_client_id id, rk_tag_ref* tag) { return get_env_tag(id, tag, kMessageTag); }

RK_API int rk_get_env(rk_client_id id, rk_env_record* record) {
  const CptEntry* e = configured_slot(id);
  if (e == nullptr || record == nullptr) return -1;
  const Kgd* kgd = attachment().kgd;
  rk_env_record r;
  r.control_tag = tag_ref_of(e->env_refs[kControlTag]);
  r.status_tag = tag_ref_of(e->env_refs[kStatusTag]);
  r.message_tag = tag_ref_of(e->env_refs[kMessageTag]);
  copy_field(r.app_dir, kgd->app_dir, sizeof r.app_dir);
  copy_field(r.pgm_dir, kgd->prog_dir, sizeof r.pgm_dir);
  copy_field(r.cmdline, e->cmdline, sizeof r.cmdline);
  *record = r;
  return 0;
}

// The directories of the record are the RTDB's and stay as they are. The
// command line is cut to what the field holds with its NUL, so a record
// whose text runs on never spills into the entry's next field.
RK_API int rk_set_env(rk_client_id id, const rk_env_record* record) {
  CptEntry* e = configured_slot(id);
  if (e == nullptr || record == nullptr) return -1;
  e->env_refs[kControlTag] = word_of(record->control_tag);
  e->env_refs[kStatusTag] = word_of(record->status_tag);
  e->env_refs[kMessageTag] = word_of(record->message_tag);
  copy_field(e->cmdline, record->cmdline, sizeof e->cmdline);
  return 0;
}

}  // extern "C"
