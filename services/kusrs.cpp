// The domains (kusr records) an RTDB was made for, as its creator gave
// them. The table never changes after creation, so it is read without a
// lock.
#include <cstring>

#include "core/attachment.h"
#include "core/kgd_words.h"
#include "core/name_rules.h"
#include "rk.h"

using namespace rk;

namespace {

// The kusr table of the attached, valid RTDB; null when there is none.
const KusrRecord* kusr_table(const Kgd** kgd_out) {
  const Kgd* kgd = attachment().kgd;
  if (kgd == nullptr || !rtdb_ready(kgd)) return nullptr;
  *kgd_out = kgd;
  return at<KusrRecord>(kgd->kusr_table);
}

// A name may use all 16 bytes of its field without a NUL, as the domain
// names clients give in RKDOMAIN may: the texts are copied up to their NUL
// or their field's end, the bytes after a NUL zero.
void copy_kusr(const KusrRecord& kusr, rk_kusr* record) {
  rk_kusr r{};
  strncpy(r.name, kusr.name, sizeof r.name);
  strncpy(r.text, kusr.text, sizeof r.text);
  r.instances = kusr.instances;
  *record = r;
}

}  // namespace

extern "C" {

RK_API int rk_get_nkusrs(void) {
  const Kgd* kgd = nullptr;
  return kusr_table(&kgd) != nullptr ? static_cast<int>(kgd->nkusrs) : -1;
}

RK_API int rk_get_kusr(const char* kusr_name, rk_kusr* record) {
  const Kgd* kgd = nullptr;
  const KusrRecord* table = kusr_table(&kgd);
  if (table == nullptr || kusr_name == nullptr || record == nullptr) return -1;
  for (uint32_t k = 0; k < kgd->nkusrs; ++k) {
    if (field_equals(table[k].name, sizeof table[k].name, kusr_name)) {
      copy_kusr(table[k], record);
      return 0;
    }
  }
  return -1;
}

RK_API int rk_nth_kusr(int n, rk_kusr* record) {
  const Kgd* kgd = nullptr;
  const KusrRecord* table = kusr_table(&kgd);
  if (table == nullptr || record == nullptr || n < 0 || static_cast<uint32_t>(n) >= kgd->nkusrs) return -1;
  copy_kusr(table[n], record);
  return 0;
}

}  // extern "C"
