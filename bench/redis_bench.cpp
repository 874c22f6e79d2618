// What a user might pick instead of a one-tag write: a SET of an 8-byte
// value to a Redis server over a Unix socket. The server is started and
// stopped by `make bench`, which names its socket in RK_BENCH_REDIS; without
// it the benchmark reports that the server is not available.
#include <benchmark/benchmark.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int connect_redis() {
  const char* path = getenv("RK_BENCH_REDIS");
  if (path == nullptr || *path == 0) return -1;
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  strncpy(addr.sun_path, path, sizeof addr.sun_path - 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// One SET and its reply, "+OK".
bool set_value(int fd, uint64_t value) {
  char request[64];
  const int head = snprintf(request, sizeof request, "*3\r\n$3\r\nSET\r\n$4\r\ntag0\r\n$8\r\n");
  memcpy(request + head, &value, 8);
  memcpy(request + head + 8, "\r\n", 2);
  const ssize_t length = head + 10;
  if (write(fd, request, length) != length) return false;
  char reply[8];
  ssize_t got = 0;
  while (got < 5) {
    const ssize_t n = read(fd, reply + got, 5 - got);
    if (n <= 0) return false;
    got += n;
  }
  return memcmp(reply, "+OK\r\n", 5) == 0;
}

void BM_RedisSet(benchmark::State& state) {
  const int fd = connect_redis();
  if (fd < 0) {
    state.SkipWithError("redis-server not available");
    return;
  }
  uint64_t v = 0;
  for (auto _ : state) {
    if (!set_value(fd, ++v)) {
      state.SkipWithError("SET failed");
      break;
    }
  }
  close(fd);
}
BENCHMARK(BM_RedisSet)->UseRealTime();

}  // namespace
