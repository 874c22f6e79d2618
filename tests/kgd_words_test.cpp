// The kgd words changed atomically through aligned containers: a change of
// one never touches the bytes around it that the container also holds.
#include <gtest/gtest.h>

#include <cstring>

#include "core/kgd_words.h"
#include "core/lock_word.h"

namespace rk {
namespace {

// A kgd on a page boundary, as segment 0 always is, with every byte set so
// that a container that spills over its word shows.
struct alignas(4096) KgdPage {
  Kgd kgd;
};

class KgdWordsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    memset(&page_, 0xA5, sizeof page_);
    kgd()->lock_holder = 0;
    kgd()->lock_slow = 0;
    kgd()->nsegs = 1;
    kgd()->running_apps = 0;
    memcpy(before_, &page_, sizeof before_);
  }
  Kgd* kgd() { return &page_.kgd; }
  // The bytes of the kgd other than [offset, offset + n) are as they were.
  bool rest_unchanged(size_t offset, size_t n) const {
    const auto* now = reinterpret_cast<const unsigned char*>(&page_);
    return memcmp(now, before_, offset) == 0 &&
           memcmp(now + offset + n, before_ + offset + n, sizeof before_ - offset - n) == 0;
  }

  KgdPage page_;
  unsigned char before_[sizeof(Kgd)];
};

TEST_F(KgdWordsTest, TheHolderSwapChangesTheHolderAloneAndFailsOnAnother) {
  const Addr a = 0x2081F00Du, b = 0xFEDCBA98u;
  struct Case {
    const char* name;
    Addr expected, desired;
    bool swapped;
    Addr after;
  } cases[] = {
      {"free lock taken", 0, a, true, a},
      {"held by another: no change", b, 0, false, a},
      {"given back", a, 0, true, 0},
      {"taken with every bit set", 0, b, true, b},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(swap_lock_holder(kgd(), c.expected, c.desired), c.swapped);
    EXPECT_EQ(Addr{kgd()->lock_holder}, c.after);
    EXPECT_TRUE(rest_unchanged(offsetof(Kgd, lock_holder), sizeof(Addr)));
  }
}

TEST_F(KgdWordsTest, CountsAndTheSlowMarkKeepTheirNeighbours) {
  publish_nsegs(kgd(), 65535);
  EXPECT_EQ(uint32_t{kgd()->nsegs}, 65535u);
  EXPECT_EQ(load_nsegs(kgd()), 65535u);
  EXPECT_TRUE(rest_unchanged(offsetof(Kgd, nsegs), 4));

  kgd()->running_apps = 128;
  EXPECT_EQ(load_running_apps(kgd()), 128);

  mark_lock_slow(kgd());
  EXPECT_EQ(uint32_t{kgd()->lock_slow}, 1u);
  EXPECT_TRUE(lock_is_slow(kgd()));
  clear_lock_slow(kgd());
  EXPECT_FALSE(lock_is_slow(kgd()));
  EXPECT_EQ(uint32_t{kgd()->lock_slow}, 0u);
}

}  // namespace
}  // namespace rk
