// The kernel memory loop of the random-kill campaigns: a client allocates
// blocks of random sizes, fills each with a pattern of its own, frees some
// and checks all of its blocks under each hold of the lock, while others
// allocate (and so compact) in the same pools. The blocks belong to the
// client's slot: their handles are logged in a file of the slot's, and the
// loop started in the slot after a kill takes over the blocks its
// predecessor logged. Client ids, handles and seeds are decimal.
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>

#include "client/commands.h"
#include "client/loop_log.h"
#include "rk.h"
#include "support/memory_pattern.h"

namespace rk::test {
namespace {

rk_client_id id_of(const Args& a) { return static_cast<rk_client_id>(a.dec(0)); }

struct Block {
  uint32_t seed;
  uintptr_t address = 0;   // where the last check found it
};

bool zeroed(const uint8_t* p, uint32_t bytes) {
  for (uint32_t i = 0; i < bytes; ++i) {
    if (p[i] != 0) return false;
  }
  return true;
}

// The slot's blocks as its log leaves them: "a <handle> <seed>" once a
// block is filled, "f <handle>" before it is freed. Only the last line may
// name a step that the killed loop did not finish: a free that may not
// have happened, whose block `doubtful` gets (its handle is 0xFFFFFFFF when
// the last line is no free).
std::map<rk_mem_handle, Block> logged_blocks(const std::string& path, rk_mem_handle* doubtful, Block* block) {
  std::map<rk_mem_handle, Block> blocks;
  std::map<rk_mem_handle, uint32_t> last_seed;   // of the block a handle named last
  std::ifstream in(path);
  std::string line;
  *doubtful = 0xFFFFFFFFu;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string step;
    rk_mem_handle h = 0;
    uint32_t seed = 0;
    *doubtful = 0xFFFFFFFFu;
    if (!(words >> step >> h)) continue;
    if (step == "a" && (words >> seed)) {
      blocks[h] = Block{seed};
      last_seed[h] = seed;
    } else if (step == "f" && last_seed.count(h) != 0) {
      blocks.erase(h);
      *doubtful = h;
      *block = Block{last_seed[h]};
    }
  }
  return blocks;
}

// The rounds of one loop. Each step is false, with the fault noted, when it
// found what the kernel must not let happen.
class MemoryRounds {
 public:
  MemoryRounds(rk_client_id id, const std::string& path, uint32_t seed_base, uint32_t max_blocks, uint32_t rng_seed)
      : id_(id), path_(path), log_(path), next_seed_(seed_base), max_blocks_(max_blocks), rng_(rng_seed) {}

  // Takes over the blocks of the slot's log, each of which must be whole;
  // a free the predecessor may not have finished is finished here when
  // the handle still names that block.
  bool adopt() {
    if (!log_.open_ok()) return fail("log");
    rk_mem_handle doubtful = 0;
    Block doubtful_block{};
    blocks_ = logged_blocks(path_, &doubtful, &doubtful_block);
    if (doubtful != 0xFFFFFFFFu) {
      blocks_[doubtful] = doubtful_block;
      if (rk_lock(id_) != 0) return fail("lock");
      void* p = nullptr;
      uint32_t bytes = 0;
      const bool still_ours =
          rk_access_mem(id_, doubtful, &p, &bytes) == 0 && pattern_errors(p, bytes, doubtful_block.seed) == 0;
      rk_unlock(id_);
      // Not ours any more: freed, and its handle perhaps another's block now.
      if (!still_ours) blocks_.erase(doubtful);
      else if (!release(doubtful)) return false;
    }
    adopted_ = static_cast<uint32_t>(blocks_.size());
    return check();
  }

  bool round() {
    const bool grow = blocks_.size() < max_blocks_ && (blocks_.empty() || rng_() % 3 != 0);
    if (grow ? !allocate() : !release(any_block())) return false;
    ++rounds_;
    return check();
  }

  // Frees every block, so that the pools hold only what killed loops lost.
  bool release_all() {
    while (!blocks_.empty()) {
      if (!release(blocks_.begin()->first)) return false;
    }
    return true;
  }

  std::string report() const {
    return std::to_string(rounds_) + " " + std::to_string(adopted_) + " " + std::to_string(moves_) + " " +
           std::to_string(full_) + " " + fault_;
  }

 private:
  bool fail(const std::string& what) {
    if (fault_ == "-") {
      fault_ = what + "/" + std::to_string(rk_errno(id_));
      log_.line("fault " + fault_);
    }
    return false;
  }

  // Mostly small blocks; now and then one big enough to need compaction
  // in a pool that others have cut up.
  uint32_t request_bytes() { return rng_() % 8 == 0 ? 6000 + rng_() % 18000 : rng_() % 2000; }

  rk_mem_handle any_block() {
    auto it = blocks_.begin();
    std::advance(it, rng_() % blocks_.size());
    return it->first;
  }

  // Allocation and fill in one hold of the lock, then the log line: a kill
  // in between loses the block, never logs one that is not whole.
  bool allocate() {
    if (rk_lock(id_) != 0) return fail("lock");
    rk_mem_handle h = 0;
    void* p = nullptr;
    uint32_t bytes = 0;
    const uint32_t seed = next_seed_++;
    bool ok = true, filled = false;
    if (rk_alloc_mem(id_, request_bytes(), &h) != 0) {
      // 2: every pool is full, which the others may change.
      if (rk_errno(id_) == 2) ++full_;
      else ok = fail("alloc");
    } else if (rk_access_mem(id_, h, &p, &bytes) != 0) {
      ok = fail("access");
    } else {
      if (!zeroed(static_cast<const uint8_t*>(p), bytes)) ok = fail("not zeroed");
      fill_pattern(p, bytes, seed);
      blocks_[h] = Block{seed, reinterpret_cast<uintptr_t>(p)};
      filled = true;
    }
    if (rk_unlock(id_) != 0) return fail("unlock");
    if (filled) log_.line("a " + std::to_string(h) + " " + std::to_string(seed));
    return ok;
  }

  bool release(rk_mem_handle h) {
    log_.line("f " + std::to_string(h));
    blocks_.erase(h);
    return rk_free_mem(id_, h) == 0 || fail("free " + std::to_string(h));
  }

  // Every block whole wherever it lies now.
  bool check() {
    if (rk_lock(id_) != 0) return fail("lock");
    bool ok = true;
    for (auto& [h, b] : blocks_) {
      void* p = nullptr;
      uint32_t bytes = 0;
      if (rk_access_mem(id_, h, &p, &bytes) != 0) {
        ok = fail("lost " + std::to_string(h));
        break;
      }
      const uint32_t errors = pattern_errors(p, bytes, b.seed);
      if (errors != 0) {
        ok = fail("torn " + std::to_string(h) + " " + std::to_string(errors));
        break;
      }
      moves_ += b.address != 0 && b.address != reinterpret_cast<uintptr_t>(p);
      b.address = reinterpret_cast<uintptr_t>(p);
    }
    if (rk_unlock(id_) != 0 && ok) return fail("unlock");
    return ok;
  }

  rk_client_id id_;
  std::string path_;
  LoopLog log_;
  uint32_t next_seed_;
  uint32_t max_blocks_;
  std::mt19937 rng_;
  std::map<rk_mem_handle, Block> blocks_;
  uint32_t rounds_ = 0, adopted_ = 0, moves_ = 0, full_ = 0;
  std::string fault_ = "-";
};

const RegisterCommand commands[] = {
    // memloop <id> <log> <seed base> <max blocks> <rng seed>: takes over
    // the blocks of the log, then rounds until a line arrives, then frees
    // every block. "ok <rounds> <adopted> <blocks seen moved> <allocations
    // refused for full pools> <fault>", the fault "-" when none.
    {"memloop",
     [](const Args& a) {
       MemoryRounds m(id_of(a), a.str(1), static_cast<uint32_t>(a.dec(2)), static_cast<uint32_t>(a.dec(3)),
                      static_cast<uint32_t>(a.dec(4)));
       if (m.adopt()) {
         while (!line_waiting() && m.round()) {
         }
       }
       m.release_all();
       reply_ok(m.report());
     }},
};

}  // namespace
}  // namespace rk::test
