#include "platform/last_error.h"

namespace rk::os {

namespace {
thread_local int t_last_error = 0;
}

int last_error() { return t_last_error; }
void set_last_error(int err) { t_last_error = err; }

}  // namespace rk::os
