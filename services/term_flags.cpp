// Termination flags: asking a client to end is posting it the termination
// signal; the flag is set while that signal is pending and accepted.
#include "core/client_ids.h"
#include "services/signal_post.h"
#include "rk.h"

using namespace rk;

extern "C" {

RK_API int rk_set_term_flag(rk_client_id id, const char* name) { return rk_send_sig(id, name, kSigTerminate); }

RK_API int rk_set_term_flag_ex(rk_client_id id, const char* kusr_name, const char* inst_name, const char* name) {
  return rk_send_sig_ex(id, kusr_name, inst_name, name, kSigTerminate);
}

RK_API int rk_set_app_term_flag(rk_client_id id, rk_client_id target_id) {
  return rk_send_app_sig(id, target_id, kSigTerminate);
}

// Polled in work loops, so no lock: two words read once, and a flag being
// set at that moment may be seen either way. Any process may test any
// client's flag.
RK_API int rk_test_term_flag(rk_client_id id) {
  CptEntry* e = resolve_entry(resolve_app(id), id);
  if (e == nullptr) return -1;
  ++e->stats[kStatTermTests];
  const uint32_t bit = 1u << kSigTerminate;
  return (e->sig_pending & e->sig_accepted & bit) != 0 ? 1 : 0;
}

}  // extern "C"
