// Messages of 100 bytes from a writer process to a reader process: through
// a mailbox of the kernel, and through a POSIX message queue
// (mq_send/mq_receive) as what a user would pick instead. Items are
// messages delivered.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <mqueue.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>

#include "bench_rtdb.h"
#include "core/errors.h"
#include "rk.h"

namespace {

using namespace rk;
using namespace rk::bench;

constexpr uint32_t kMessageBytes = 100;
constexpr uint16_t kReader = 0x0002;

// What the reader tells the writer, in memory both share.
struct ReaderState {
  std::atomic<uint64_t> received;
  std::atomic<uint32_t> stop;
};

ReaderState* reader_state() {
  static auto* s = static_cast<ReaderState*>(
      mmap(nullptr, sizeof(ReaderState), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  return s;
}

void wait_received(ReaderState* s, uint64_t sent) {
  while (s->received.load() < sent) sched_yield();
}

void BM_MailboxMessages(benchmark::State& state) {
  bench_rtdb();
  ReaderState* shared = reader_state();
  shared->received = 0;
  shared->stop = 0;
  const rk_tag_ref ref{kMbx, 0};
  // About as many messages in flight as the message queue below holds.
  uint16_t limit = 2;
  rk_limit_mbx(0, 1, &ref, 1, &limit);
  pid_t child = fork();
  if (child == 0) {
    pin(true);
    attach_child(kReader);
    char data[kMessageBytes];
    for (;;) {
      rk_message_record r{};
      r.data = data;
      r.size = sizeof data;
      if (rk_read_mbx(kReader, ref, &r, 0) == 0) {
        shared->received.fetch_add(1);
      } else if (shared->stop != 0) {
        _exit(0);
      } else if (rk_errno(kReader) != kErrNoMessage) {
        fprintf(stderr, "reader: rk_read_mbx failed, error %d\n", rk_errno(kReader));
        _exit(1);
      } else {
        sched_yield();   // empty: the writer's turn
      }
    }
  }
  char data[kMessageBytes];
  memset(data, 'm', sizeof data);
  rk_message_record r{};
  r.data = data;
  r.length = sizeof data;
  uint64_t sent = 0;
  bool failed = false;
  for (auto _ : state) {
    if (failed) continue;
    int rc;
    while ((rc = rk_write_mbx(0, ref, &r)) != 0 && rk_errno(0) == kErrMbxLimit) {
      sched_yield();   // full: the reader's turn
    }
    if (rc != 0) {
      fprintf(stderr, "rk_write_mbx failed, error %d\n", rk_errno(0));
      state.SkipWithError("rk_write_mbx failed");
      failed = true;
      continue;
    }
    ++sent;
  }
  wait_received(shared, sent);
  shared->stop = 1;
  waitpid(child, nullptr, 0);
  forget_client(kReader);
  state.SetItemsProcessed(static_cast<int64_t>(sent));
}
BENCHMARK(BM_MailboxMessages)->UseRealTime();

void BM_PosixQueueMessages(benchmark::State& state) {
  ReaderState* shared = reader_state();
  shared->received = 0;
  const std::string name = "/rkbench_mq" + std::to_string(getpid());
  mq_attr attr{};
  attr.mq_maxmsg = 10;   // the system's default ceiling
  attr.mq_msgsize = kMessageBytes;
  mqd_t q = mq_open(name.c_str(), O_CREAT | O_RDWR, 0600, &attr);
  if (q == static_cast<mqd_t>(-1)) {
    state.SkipWithError("mq_open failed");
    return;
  }
  pid_t child = fork();
  if (child == 0) {
    pin(true);
    char data[kMessageBytes];
    for (;;) {
      const ssize_t n = mq_receive(q, data, sizeof data, nullptr);
      if (n == 0) _exit(0);   // the empty message ends the run
      if (n > 0) shared->received.fetch_add(1);
    }
  }
  char data[kMessageBytes];
  memset(data, 'm', sizeof data);
  uint64_t sent = 0;
  for (auto _ : state) {
    if (mq_send(q, data, sizeof data, 0) != 0) state.SkipWithError("mq_send failed");
    ++sent;
  }
  wait_received(shared, sent);
  mq_send(q, data, 0, 0);
  waitpid(child, nullptr, 0);
  mq_close(q);
  mq_unlink(name.c_str());
  state.SetItemsProcessed(static_cast<int64_t>(sent));
}
BENCHMARK(BM_PosixQueueMessages)->UseRealTime();

}  // namespace
