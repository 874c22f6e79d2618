#include "tools/rkctl/service_notify.h"

#ifdef RKCTL_LIBSYSTEMD
#include <systemd/sd-daemon.h>
#else
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#endif

namespace rkctl {

#ifdef RKCTL_LIBSYSTEMD

void notify_service(const std::string& state) { sd_notify(0, state.c_str()); }

#else

// Where libsystemd is not built for (the i386 variant), the same message
// goes out by hand: one datagram to the socket NOTIFY_SOCKET names, a path
// or, after '@', an abstract name.
void notify_service(const std::string& state) {
  const char* where = getenv("NOTIFY_SOCKET");
  if (where == nullptr || (where[0] != '/' && where[0] != '@')) return;
  sockaddr_un address;
  memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  const size_t length = strlen(where);
  if (length >= sizeof address.sun_path) return;
  memcpy(address.sun_path, where, length);
  if (where[0] == '@') address.sun_path[0] = '\0';
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  sendto(fd, state.data(), state.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&address),
         static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length));
  close(fd);
}

#endif

}  // namespace rkctl
