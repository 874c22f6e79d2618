#include "tools/rkctl/control.h"

namespace rkctl {

namespace {
constexpr const char* kMark = "ctl ";
}

const char* request_word(Request what) {
  switch (what) {
    case Request::stop: return "stop";
    case Request::start: return "start";
    case Request::restart: return "restart";
  }
  return "?";
}

std::string request_text(const ControlRequest& r) {
  // Domain and instance names hold no blank; a task name may: it is last.
  return std::string(kMark) + request_word(r.what) + " " + r.domain + "/" + r.instance + " " + r.task;
}

bool parse_request(const std::string& text, ControlRequest* out) {
  if (text.rfind(kMark, 0) != 0) return false;
  const size_t verb_end = text.find(' ', 4);
  if (verb_end == std::string::npos) return false;
  const std::string verb = text.substr(4, verb_end - 4);
  if (verb == "stop") {
    out->what = Request::stop;
  } else if (verb == "start") {
    out->what = Request::start;
  } else if (verb == "restart") {
    out->what = Request::restart;
  } else {
    return false;
  }
  const size_t where_end = text.find(' ', verb_end + 1);
  if (where_end == std::string::npos) return false;
  const std::string where = text.substr(verb_end + 1, where_end - verb_end - 1);
  const size_t slash = where.find('/');
  if (slash == std::string::npos) return false;
  out->domain = where.substr(0, slash);
  out->instance = where.substr(slash + 1);
  out->task = text.substr(where_end + 1);
  return !out->domain.empty() && !out->instance.empty() && !out->task.empty();
}

}  // namespace rkctl
