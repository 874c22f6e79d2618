// Deleting an RTDB: all its names go at once; processes that still map it
// keep their memory until they let go.
#include "core/attachment.h"
#include "core/kgd_segment.h"
#include "core/kgd_words.h"
#include "core/rtdb.h"
#include "core/rtdb_names.h"
#include "platform/handles.h"
#include "platform/mapping.h"
#include "rk.h"

namespace rk {

void delete_attached_rtdb(bool unmap_views) {
  Attachment& att = attachment();
  Kgd* kgd = att.kgd;
  __atomic_store_n(state_word(kgd), 0, __ATOMIC_SEQ_CST);
  // The names are formed from the RTDB name: removed before it is cleared.
  remove_rtdb_objects(kgd, os::mapping_size(att.kgd_handle), kgd->index);
  kgd->name[0] = '\0';
  // The segment table records the handle of each segment's creator, and a
  // handle means something only in its own process: close just our own.
  for (uint32_t i = 1; i < att.nviews; ++i) {
    SegmentView& v = att.views[i];
    if (v.created && v.handle != 0) os::close_handle(v.handle);
    if (v.created) v.handle = 0;
  }
  if (unmap_views) {
    detach_rtdb();
  } else {
    forget_rtdb();
  }
}

}  // namespace rk

using namespace rk;

extern "C" RK_API int rk_delete_rtdb(int kgd_index) {
  Attachment& att = attachment();
  bool opened_here = false;
  if (att.kgd == nullptr && kgd_index >= 0 && kgd_index < kMaxKgds) {
    KgdRefusal why;
    if (Kgd* kgd = open_kgd(static_cast<uint32_t>(kgd_index), &why)) {
      attach_kgd(kgd);
      opened_here = true;
    }
    why.report();
  }
  Kgd* kgd = att.kgd;
  if (kgd == nullptr || !rtdb_ready(kgd) || kgd->running_apps > 0) {
    const int result = kgd == nullptr || !rtdb_ready(kgd) ? -1 : 0;
    // An RTDB attached only for this call is let go again.
    if (opened_here) detach_rtdb();
    return result;
  }
  delete_attached_rtdb(false);
  return 0;
}
