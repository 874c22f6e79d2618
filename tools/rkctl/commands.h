// The monitoring commands of rkctl, each in a file of its own. Each returns
// the exit code and throws Failure for a one-line error.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/rkctl/dumps.h"
#include "tools/rkctl/rtdb_session.h"
#include "tools/rkctl/supervisor.h"

namespace rkctl {

int list_rtdbs(bool json);
int dump_table(const std::string& rtdb, DumpTable table, bool json);
// raw: strings as their bytes in hex.
int get_tags(const Target& target, const std::vector<std::string>& tags, bool json, bool raw);
int set_tags(const Target& target, const std::vector<std::string>& assignments);
// count 0: until Ctrl-C.
int watch_tags(const Target& target, const std::vector<std::string>& tags, bool take, int64_t count, bool json);
int send_message(const Target& target, const std::string& tag, const std::string& message);
int list_mailbox(const Target& target, const std::string& tag, bool take, bool json, bool raw);
int post_signal(const Target& target, const std::string& name, const std::string& signal);
// stop, start, restart: a request to the run manager (see control.h).
int control_client(const Target& target, Request what, const std::string& task);
// Stops the whole plant through its run manager and waits until it is down.
int bring_down(const std::string& rtdb);
int list_types(const std::string& rtdb, bool json);
int top_view(const std::string& rtdb, bool once, bool json, double interval_s);
// 0 when consistent, 1 when a fault was found (one line each).
int check_rtdb(const std::string& rtdb);

}  // namespace rkctl
