// Telling a service manager how the plant is: "READY=1" once every client
// has been started, "STOPPING=1" as the orderly stop begins, with a
// STATUS= line each. Nothing when rkctl does not run under one (no
// NOTIFY_SOCKET in its environment).
#pragma once

#include <string>

namespace rkctl {

void notify_service(const std::string& state);

}  // namespace rkctl
