// The reason of the calling thread's last failed platform call, as a system
// error number (ENOENT when a named object does not exist).
#pragma once

namespace rk::os {

int last_error();
void set_last_error(int err);

}  // namespace rk::os
