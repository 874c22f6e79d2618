// How another terminal reaches the run manager, through the kernel alone.
// The run manager is the client RKCTL in slot 0 of application 0. A tool
// registers in application 0 with its request as its slot's description,
// "ctl VERB DOMAIN/INSTANCE TASK", and posts kRequestSignal to slot 0. The
// run manager, which looks for that signal at least every 100 ms, reads
// the requests of every live slot of application 0 and answers each once,
// by posting kDone or a refusal to the slot that asked, once the request is
// carried out. The whole plant is stopped by setting the run manager's own
// termination flag, as any client may do.
#pragma once

#include <string>

#include "tools/rkctl/supervisor.h"

namespace rkctl {

constexpr int kRequestSignal = 16;     // to the run manager: a request waits
constexpr int kDoneSignal = 17;        // to the tool: carried out
constexpr int kNoSuchClient = 18;      // to the tool: no client of that name with a command
constexpr int kPlantStopping = 19;     // to the tool: the plant is stopping

constexpr const char* kRunManagerTask = "RKCTL";

struct ControlRequest {
  Request what = Request::stop;
  std::string domain, instance, task;
};

const char* request_word(Request what);
// The slot description that carries the request; at most 79 characters.
std::string request_text(const ControlRequest& r);
// False when the description is no request.
bool parse_request(const std::string& text, ControlRequest* out);

}  // namespace rkctl
