#include "core/attachment.h"

#include <cstring>

namespace rk {

Attachment& attachment() {
  static Attachment a;
  return a;
}

RtdbName::RtdbName(const Kgd* kgd) {
  memcpy(text, kgd->name, sizeof kgd->name);
  text[16] = '\0';
}

}  // namespace rk
