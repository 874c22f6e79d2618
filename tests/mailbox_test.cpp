// Mailbox operations in one process: the order in which every call checks
// its arguments, taking and peeking anywhere in a queue, the mailboxes of
// other applications and shared ones, ownership and limits. Every queue and
// the memory pools are checked after each operation, and a refused call
// must leave every mailbox as it was.
#include <unistd.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "core/client_ids.h"
#include "core/errors.h"
#include "rk.h"
#include "storage/msg_queue.h"
#include "storage/msg_queue_check.h"
#include "storage/pool_check.h"
#include "support/tag_rtdb_test.h"
#include "support/test_rtdb_layouts.h"
#include "support/waiting_clients.h"

namespace rk::test {
namespace {

constexpr uint16_t kMbx = 0;       // mailboxes per application
constexpr uint16_t kShared = 1;    // mailboxes shared by the applications
constexpr uint16_t kPlain = 2;
constexpr uint16_t kDigital = 3;
constexpr uint16_t kNoType = 7;    // not below the number of types
constexpr uint16_t kMax = 3;       // tags of every type

constexpr uint16_t kMe = 0x0000;
constexpr uint16_t kOther = 0x0004;    // another client of application 0
constexpr uint16_t kThere = 0x0102;    // a client of application 1
constexpr uint16_t kNobody = 0x0010;   // a slot without a client
constexpr uint16_t kNoApp = 0x0700;    // an application that does not exist
constexpr uint32_t kLargest = 63458;   // data bytes of the largest message

class MailboxTest : public TagRtdbTest {
 protected:
  void SetUp() override {
    TagRtdbTest::SetUp();
    create({type_entry("MBX", 3, kMax, 22), type_entry("SHMBX", 3, kMax, 22, 0), type_entry("PLAIN", 0, kMax, 4),
            type_entry("DIGITAL", 1, kMax, 2)},
           2, 8);
    for (uint16_t id : {kMe, kOther, kThere}) make_live(id, static_cast<uint32_t>(getpid()));
  }
  void TearDown() override {
    checked();
    TagRtdbTest::TearDown();
  }

  MsgQueue& queue(uint32_t a, TagRef ref) const {
    const Addr values = at<TagArrayPair>(app(a)->pairs)[ref.type].value_array;
    return *at<MsgQueue>(values + (sizeof(MsgQueue) + sizeof(ValueCellHeader)) * ref.index + sizeof(ValueCellHeader));
  }

  // Every queue of both applications and the pools; returns rc.
  int checked(int rc = 0) const {
    for (uint32_t a = 0; a < 2; ++a)
      for (uint16_t t : {kMbx, kShared})
        for (uint16_t i = 0; i < kMax; ++i) {
          EXPECT_EQ(msg_queue_check(kgd_, &queue(a, {t, i})), "") << "application " << a << " tag " << t << ":" << i;
        }
    EXPECT_EQ(pool_check(kgd_), "");
    return rc;
  }

  // The descriptors and change words of every mailbox, to tell that a call
  // changed nothing.
  std::string snapshot() const {
    std::string s;
    for (uint32_t a = 0; a < 2; ++a)
      for (uint16_t t : {kMbx, kShared})
        for (uint16_t i = 0; i < kMax; ++i) {
          s.append(reinterpret_cast<const char*>(&queue(a, {t, i})), sizeof(MsgQueue));
          const uint32_t word = val(change(a, {t, i}).change_word);
          s.append(reinterpret_cast<const char*>(&word), sizeof word);
        }
    return s;
  }

  // 0, or the error number a failed call stored for id.
  int result(int rc, uint16_t id) const {
    checked();
    if (rc == 0) return 0;
    EXPECT_EQ(rc, -1);
    return rk_errno(id);
  }

  int put(uint16_t id, uint16_t target, TagRef ref, const std::string& text) {
    rk_message_record r{};
    r.data = const_cast<char*>(text.data());
    r.length = static_cast<uint16_t>(text.size());
    memset(r.caller_fields, 'f', sizeof r.caller_fields);
    return result(rk_write_app_mbx(id, target, ref, &r), id);
  }

  // Takes message index into a buffer of `size`: the text, or "err <n>".
  std::string take(uint16_t id, uint16_t target, TagRef ref, uint32_t index, uint16_t size = 64) {
    std::vector<char> buffer(size + 1u, '\0');
    rk_message_record r{};
    r.data = buffer.data();
    r.size = size;
    const int err = result(rk_read_app_mbx(id, target, ref, &r, index), id);
    if (err != 0) return "err " + std::to_string(err);
    EXPECT_EQ(val(r.size), size) << "the reader's size stays";
    EXPECT_EQ(val(r.data), static_cast<void*>(buffer.data()));
    return std::string(buffer.data(), val(r.length));
  }

  uint32_t count(uint16_t id, TagRef ref) const {
    uint32_t n = 0xFFFFFFFF;
    EXPECT_EQ(result(rk_count_mbx(id, ref, &n), id), 0);
    return n;
  }

  // The lengths of the queued messages, through rk_query_mbx.
  std::vector<uint32_t> lengths(uint16_t id, TagRef ref, uint32_t start = 0, uint32_t n = 16) const {
    std::vector<rk_message_record> records(n);
    uint32_t n_out = 0xFFFFFFFF;
    if (result(rk_query_mbx(id, ref, records.data(), start, n, &n_out), id) != 0) return {};
    std::vector<uint32_t> out;
    for (uint32_t i = 0; i < n_out; ++i) {
      EXPECT_EQ(val(records[i].size), 0);
      out.push_back(val(records[i].length));
    }
    return out;
  }
};

// Each call checks in one order: the target application, then its
// pointers, then the reference (its type, the kind, the element size, the
// index), and only then the mailbox itself. A refused call changes no
// mailbox.
TEST_F(MailboxTest, EveryCallChecksItsArgumentsInOrder) {
  const TagRef two{kMbx, 1}, empty{kMbx, 0}, owned{kMbx, 2}, limited{kShared, 0};
  ASSERT_EQ(put(kMe, kMe, two, "one"), 0);
  ASSERT_EQ(put(kMe, kMe, two, "two"), 0);
  ASSERT_EQ(result(rk_set_owner_mbx(kOther, owned, 1), kOther), 0);
  uint16_t one_kib = 1;
  ASSERT_EQ(result(rk_limit_mbx(kMe, 1, &limited, 1, &one_kib), kMe), 0);

  const std::string big(995, 'b'), huge(kLargest + 1, 'h');
  rk_message_record big_record{}, huge_record{}, r{};
  big_record.data = const_cast<char*>(big.data());
  big_record.length = static_cast<uint16_t>(big.size());
  huge_record.data = const_cast<char*>(huge.data());
  huge_record.length = static_cast<uint16_t>(huge.size());
  rk_message_record records[4] = {};
  uint32_t n = 0;
  uint16_t limits[2] = {5, 5};

  const TagRef bad_type{kNoType, 0}, plain{kPlain, 0}, digital{kDigital, 0}, plain_far{kPlain, 99},
      bad_index{kMbx, kMax};
  const struct {
    const char* what;
    std::function<int()> call;
    int error;
  } cases[] = {
      {"count: the pointer before the type", [&] { return rk_count_mbx(kMe, bad_type, nullptr); }, kErrNullArg},
      {"count: no such type", [&] { return rk_count_mbx(kMe, bad_type, &n); }, kErrBadTag},
      {"count: a plain type", [&] { return rk_count_mbx(kMe, plain, &n); }, kErrNotMailbox},
      {"count: a digital type", [&] { return rk_count_mbx(kMe, digital, &n); }, kErrNotMailbox},
      {"count: the kind before the index", [&] { return rk_count_mbx(kMe, plain_far, &n); }, kErrNotMailbox},
      {"count: index not below max", [&] { return rk_count_mbx(kMe, bad_index, &n); }, kErrBadTag},
      {"count: another's owned mailbox", [&] { return rk_count_mbx(kMe, owned, &n); }, 0},
      {"query: no records", [&] { return rk_query_mbx(kMe, two, nullptr, 0, 1, &n); }, kErrNullArg},
      {"query: no n out, bad type", [&] { return rk_query_mbx(kMe, bad_type, records, 0, 1, nullptr); }, kErrNullArg},
      {"query: a plain type", [&] { return rk_query_mbx(kMe, plain, records, 0, 1, &n); }, kErrNotMailbox},
      {"query: index not below max", [&] { return rk_query_mbx(kMe, bad_index, records, 0, 1, &n); }, kErrBadTag},
      {"query: an empty mailbox", [&] { return rk_query_mbx(kMe, empty, records, 0, 1, &n); }, kErrNoMessage},
      {"query: start at the count", [&] { return rk_query_mbx(kMe, two, records, 2, 1, &n); }, kErrNoMessage},
      {"query: another's owned mailbox", [&] { return rk_query_mbx(kMe, owned, records, 0, 1, &n); }, kErrNoMessage},
      {"read: the target before the pointer", [&] { return rk_read_app_mbx(kMe, kNoApp, bad_type, nullptr, 0); },
       kErrAppInactive},
      {"read: the pointer before the type", [&] { return rk_read_app_mbx(kMe, kMe, bad_type, nullptr, 0); },
       kErrNullArg},
      {"read: no such type", [&] { return rk_read_mbx(kMe, bad_type, &r, 0); }, kErrBadTag},
      {"read: a digital type", [&] { return rk_read_mbx(kMe, digital, &r, 0); }, kErrNotMailbox},
      {"read: the kind before the index", [&] { return rk_read_mbx(kMe, plain_far, &r, 0); }, kErrNotMailbox},
      {"read: index not below max", [&] { return rk_read_mbx(kMe, bad_index, &r, 0); }, kErrBadTag},
      {"read: an empty mailbox", [&] { return rk_read_mbx(kMe, empty, &r, 0); }, kErrNoMessage},
      {"read: message 2 of two", [&] { return rk_read_mbx(kMe, two, &r, 2); }, kErrNoMessage},
      {"read: another's, even empty", [&] { return rk_read_mbx(kMe, owned, &r, 0); }, kErrOtherOwner},
      {"read: the owner before the index", [&] { return rk_read_mbx(kMe, owned, &r, 9); }, kErrOtherOwner},
      {"write: the target before the pointer", [&] { return rk_write_app_mbx(kMe, kNoApp, bad_type, nullptr); },
       kErrAppInactive},
      {"write: the pointer before the type", [&] { return rk_write_app_mbx(kMe, kMe, bad_type, nullptr); },
       kErrNullArg},
      {"write: no such type", [&] { return rk_write_mbx(kMe, bad_type, &big_record); }, kErrBadTag},
      {"write: a plain type", [&] { return rk_write_mbx(kMe, plain, &big_record); }, kErrNotMailbox},
      {"write: a digital type", [&] { return rk_write_mbx(kMe, digital, &big_record); }, kErrNotMailbox},
      {"write: index not below max", [&] { return rk_write_mbx(kMe, bad_index, &big_record); }, kErrBadTag},
      {"write: over the limit", [&] { return rk_write_mbx(kMe, limited, &big_record); }, kErrMbxLimit},
      {"write: too large for a block", [&] { return rk_write_mbx(kMe, empty, &huge_record); }, kErrRange},
      {"owner: no such type", [&] { return rk_set_owner_mbx(kMe, bad_type, 1); }, kErrBadTag},
      {"owner: a digital type", [&] { return rk_set_owner_mbx(kMe, digital, 1); }, kErrNotMailbox},
      {"owner: index not below max", [&] { return rk_set_owner_mbx(kMe, bad_index, 1); }, kErrBadTag},
      {"owner: another's, taking", [&] { return rk_set_owner_mbx(kMe, owned, 1); }, kErrOtherOwner},
      {"owner: another's, releasing", [&] { return rk_set_owner_mbx(kMe, owned, 0); }, kErrOtherOwner},
      {"limit: the target before the pointers", [&] { return rk_limit_app_mbx(kMe, kNoApp, 0, nullptr, 1, limits); },
       kErrAppInactive},
      {"limit: no references", [&] { return rk_limit_mbx(kMe, 0, nullptr, 1, limits); }, kErrNullArg},
      {"limit: no limits", [&] { return rk_limit_mbx(kMe, 0, &bad_type, 1, nullptr); }, kErrNullArg},
      {"limit: no pointers needed for none", [&] { return rk_limit_mbx(kMe, 1, nullptr, 0, nullptr); }, 0},
      {"limit: no such type", [&] { return rk_limit_mbx(kMe, 0, &bad_type, 1, limits); }, kErrBadTag},
      {"limit: a plain type", [&] { return rk_limit_mbx(kMe, 0, &plain_far, 1, limits); }, kErrNotMailbox},
      {"limit: index not below max", [&] { return rk_limit_mbx(kMe, 0, &bad_index, 1, limits); }, kErrBadTag},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    entry(kMe).errnum = 0;
    const std::string before = snapshot();
    EXPECT_EQ(result(c.call(), kMe), c.error);
    if (c.error != 0) {
      EXPECT_EQ(snapshot(), before);
    }
  }
  EXPECT_EQ(limits[0], 5) << "no limit was stored by a refused get";
  EXPECT_EQ(rk_limit_mbx_default(0, nullptr), -1);
  EXPECT_EQ(rk_limit_mbx_default(1, nullptr), -1);
}

// An id that names no live client fails every call with -1 and stores no
// error number anywhere.
TEST_F(MailboxTest, ACallerThatDoesNotResolveGetsMinusOneAndNothingStored) {
  const TagRef tag{kMbx, 0};
  uint32_t n = 0;
  rk_message_record r{}, records[2] = {};
  uint16_t limit = 0;
  const std::function<int(uint16_t)> calls[] = {
      [&](uint16_t id) { return rk_count_mbx(id, tag, &n); },
      [&](uint16_t id) { return rk_query_mbx(id, tag, records, 0, 2, &n); },
      [&](uint16_t id) { return rk_read_mbx(id, tag, &r, 0); },
      [&](uint16_t id) { return rk_read_app_mbx(id, kThere, tag, &r, 0); },
      [&](uint16_t id) { return rk_write_mbx(id, tag, &r); },
      [&](uint16_t id) { return rk_write_app_mbx(id, kThere, tag, &r); },
      [&](uint16_t id) { return rk_set_owner_mbx(id, tag, 1); },
      [&](uint16_t id) { return rk_limit_mbx(id, 1, &tag, 1, &limit); },
      [&](uint16_t id) { return rk_limit_app_mbx(id, kThere, 1, &tag, 1, &limit); },
  };
  for (uint16_t id : {kNobody, kNoApp, static_cast<uint16_t>(0x001F), static_cast<uint16_t>(0xFFFF)}) {
    for (size_t i = 0; i < std::size(calls); ++i) {
      SCOPED_TRACE("call " + std::to_string(i) + " by 0x" + std::to_string(id));
      entry(kMe).errnum = 0;
      EXPECT_EQ(calls[i](id), -1);
      EXPECT_EQ(val(entry(kMe).errnum), 0);
      if (names_slot(kgd_, id)) {
        EXPECT_EQ(val(entry(id).errnum), 0);
      }
    }
  }
  EXPECT_EQ(val(queue(0, tag).count), 0);
  EXPECT_EQ(val(queue(0, tag).flags), 0);
}

// A type whose element size is 0 names no tags, but a type of another kind
// is told by its kind first.
TEST_F(MailboxTest, TheKindIsJudgedBeforeTheElementSize) {
  TypeEntry* types = at<TypeEntry>(kgd_->type_table);
  uint32_t n = 0;
  types[kMbx].usiz = 0;
  EXPECT_EQ(result(rk_count_mbx(kMe, {kMbx, 0}, &n), kMe), kErrBadTag);
  types[kMbx].usiz = 22;
  types[kPlain].usiz = 0;
  EXPECT_EQ(result(rk_count_mbx(kMe, {kPlain, 0}, &n), kMe), kErrNotMailbox);
  types[kPlain].usiz = 4;
}

// Messages are taken from anywhere, peeked without being taken, cut to the
// reader's buffer; the mailbox stays changed until its last message goes.
TEST_F(MailboxTest, MessagesAreTakenAndPeekedAnywhereInTheQueue) {
  const TagRef tag{kMbx, 1};
  for (const char* text : {"a", "bb", "ccc"}) ASSERT_EQ(put(kMe, kMe, tag, text), 0);
  EXPECT_EQ(count(kMe, tag), 3u);
  EXPECT_EQ(val(change(0, tag).change_word), kChangeBits);
  EXPECT_EQ(val(change(1, tag).change_word), 0u) << "another application's mailbox";
  EXPECT_EQ(lengths(kMe, tag, 1, 5), (std::vector<uint32_t>{2, 3})) << "5 asked from 1: 2 there";
  EXPECT_EQ(lengths(kMe, tag, 1, 0), (std::vector<uint32_t>{})) << "n 0 below the count";
  EXPECT_EQ(lengths(kMe, tag, 3, 1), (std::vector<uint32_t>{})) << "start at the count: 36";
  EXPECT_EQ(val(entry(kMe).errnum), kErrNoMessage);

  EXPECT_EQ(take(kMe, kMe, tag, 1), "bb") << "the middle one";
  EXPECT_EQ(take(kMe, kMe, tag, 2), "err 36");
  EXPECT_EQ(take(kMe, kMe, tag, 1), "ccc") << "the last one: the tail moves back";
  ASSERT_EQ(put(kMe, kMe, tag, "dddd"), 0);
  EXPECT_EQ(lengths(kMe, tag), (std::vector<uint32_t>{1, 4}));
  EXPECT_EQ(take(kMe, kMe, tag, 0), "a");
  EXPECT_EQ(val(change(0, tag).change_word), kChangeBits) << "a message remains";
  EXPECT_EQ(take(kMe, kMe, tag, 0, 2), "dd") << "cut to the buffer, the rest lost";
  EXPECT_EQ(val(change(0, tag).change_word), 0u) << "emptied";
  EXPECT_EQ(count(kMe, tag), 0u);
  EXPECT_EQ(val(queue(0, tag).queued_bytes), 0u);

  // No data address: the message goes all the same, delivering the fields.
  ASSERT_EQ(put(kMe, kMe, tag, "eeeee"), 0);
  rk_message_record r{};
  ASSERT_EQ(result(rk_read_mbx(kMe, tag, &r, 0), kMe), 0);
  EXPECT_EQ(val(r.length), 0);
  EXPECT_EQ(r.caller_fields[13], 'f');
  EXPECT_EQ(count(kMe, tag), 0u);
}

// A per-application mailbox is another queue in every application; a
// shared one is one queue that every application sees changed, and a take
// that empties it leaves it changed in none.
TEST_F(MailboxTest, OtherApplicationsMailboxesAreTheirsUnlessShared) {
  const TagRef mine{kMbx, 0}, shared{kShared, 2};
  ASSERT_EQ(put(kMe, kThere, mine, "there"), 0);
  EXPECT_EQ(count(kMe, mine), 0u);
  EXPECT_EQ(count(kThere, mine), 1u);
  EXPECT_EQ(val(change(1, mine).change_word), kChangeBits);
  EXPECT_EQ(val(change(0, mine).change_word), 0u);
  EXPECT_EQ(take(kMe, kMe, mine, 0), "err 36");
  EXPECT_EQ(take(kMe, 0x0117, mine, 0), "there") << "the target's slot is not looked at";
  EXPECT_EQ(val(change(1, mine).change_word), 0u);

  ASSERT_EQ(put(kThere, kThere, shared, "one"), 0);
  ASSERT_EQ(put(kMe, kThere, shared, "two"), 0);
  EXPECT_EQ(count(kMe, shared), 2u);
  EXPECT_EQ(count(kThere, shared), 2u);
  for (uint32_t a = 0; a < 2; ++a) EXPECT_EQ(val(change(a, shared).change_word), kChangeBits) << a;
  EXPECT_EQ(take(kMe, kMe, shared, 0), "one");
  EXPECT_EQ(val(change(1, shared).change_word), kChangeBits);
  EXPECT_EQ(take(kThere, kThere, shared, 0), "two");
  for (uint32_t a = 0; a < 2; ++a) EXPECT_EQ(val(change(a, shared).change_word), 0u) << a;
}

// The owner alone reads, and is signalled at every message; anybody writes,
// counts and queries. Ownership is the slot's: it outlives the client.
TEST_F(MailboxTest, AnOwnedMailboxIsReadByItsOwnerAlone) {
  const TagRef tag{kShared, 1};
  entry(kMe).sig_accepted = kAcceptedAtStart | 1u << kOwnerSignal;
  ASSERT_EQ(result(rk_set_owner_mbx(kMe, tag, 1), kMe), 0);
  ASSERT_EQ(result(rk_set_owner_mbx(kMe, tag, 7), kMe), 0) << "again, by the owner";
  EXPECT_EQ(take(kOther, kOther, tag, 0), "err 37") << "empty, yet refused";
  EXPECT_EQ(result(rk_set_owner_mbx(kOther, tag, 1), kOther), kErrOtherOwner);

  for (uint16_t writer : {kOther, kThere, kMe}) {
    SCOPED_TRACE(writer);
    entry(kMe).sig_pending = 0;
    ASSERT_EQ(put(writer, writer, tag, "for the owner"), 0);
    EXPECT_EQ(val(entry(kMe).sig_pending), 1u << kOwnerSignal);
    EXPECT_EQ(val(entry(writer).sig_pending) & (writer == kMe ? 0u : 1u << kOwnerSignal), 0u);
  }
  EXPECT_EQ(count(kOther, tag), 3u);
  EXPECT_EQ(lengths(kThere, tag).size(), 3u);
  EXPECT_EQ(take(kThere, kThere, tag, 0), "err 37") << "another application's client alike";
  EXPECT_EQ(take(kMe, kMe, tag, 0), "for the owner");

  ASSERT_EQ(result(rk_set_owner_mbx(kMe, tag, 0), kMe), 0);
  EXPECT_EQ(val(queue(0, tag).owner), 0);
  EXPECT_EQ(take(kOther, kOther, tag, 0), "for the owner");
  ASSERT_EQ(result(rk_set_owner_mbx(kOther, tag, 1), kOther), 0);
  ASSERT_EQ(result(rk_set_owner_mbx(kMe, tag, 0), kMe), kErrOtherOwner);

  // The owner leaves; whoever takes its slot next is the owner.
  ASSERT_EQ(rk_proc_exit(kOther), 0);
  EXPECT_EQ(val(queue(0, tag).owner), kOther);
  EXPECT_EQ(take(kMe, kMe, tag, 0), "err 37");
  make_live(kOther, static_cast<uint32_t>(getpid()));
  EXPECT_EQ(take(kOther, kOther, tag, 0), "for the owner");
}

// Limits are got and set per mailbox up to the first bad reference; the
// default applies to the mailboxes whose own limit is 0.
TEST_F(MailboxTest, LimitsAreSetPerMailboxOverTheDefault) {
  const TagRef refs[3] = {{kMbx, 0}, {kNoType, 0}, {kMbx, 2}};
  uint16_t set[3] = {4, 5, 6};
  EXPECT_EQ(result(rk_limit_mbx(kMe, 1, refs, 3, set), kMe), kErrBadTag);
  EXPECT_EQ(val(queue(0, refs[0]).limit_kib), 4);
  EXPECT_EQ(val(queue(0, refs[2]).limit_kib), 0) << "the loop ended at the bad one";
  uint16_t got[3] = {9, 9, 9};
  EXPECT_EQ(result(rk_limit_mbx(kMe, 0, refs, 3, got), kMe), kErrBadTag);
  EXPECT_EQ(got[0], 4);
  EXPECT_EQ(got[2], 9);
  const TagRef there[2] = {{kMbx, 0}, {kShared, 0}};
  uint16_t other[2] = {7, 8};
  EXPECT_EQ(result(rk_limit_app_mbx(kMe, kThere, 1, there, 2, other), kMe), 0);
  EXPECT_EQ(val(queue(1, there[0]).limit_kib), 7);
  EXPECT_EQ(val(queue(0, there[0]).limit_kib), 4) << "another application's";
  EXPECT_EQ(val(queue(0, there[1]).limit_kib), 8) << "a shared mailbox is the same in every application";

  uint16_t limit = 1;
  ASSERT_EQ(rk_limit_mbx_default(1, &limit), 0);
  limit = 0;
  ASSERT_EQ(rk_limit_mbx_default(2, &limit), 0);
  EXPECT_EQ(limit, 1);
  EXPECT_EQ(val(kgd_->mbx_limit), 1);
  const TagRef tag{kMbx, 1};
  EXPECT_EQ(put(kMe, kMe, tag, std::string(995, 'x')), kErrMbxLimit);
  EXPECT_EQ(put(kMe, kMe, tag, std::string(994, 'x')), 0) << "exactly 1 KiB";
  uint16_t two = 2;
  ASSERT_EQ(result(rk_limit_mbx(kMe, 1, &tag, 1, &two), kMe), 0);
  EXPECT_EQ(put(kMe, kMe, tag, std::string(995, 'y')), kErrMbxLimit) << "994 + 30 are queued already";
  EXPECT_EQ(take(kMe, kMe, tag, 0, 1), "x");
  EXPECT_EQ(put(kMe, kMe, tag, std::string(995, 'y')), 0);
  uint16_t smaller = 1;
  ASSERT_EQ(result(rk_limit_mbx(kMe, 1, &tag, 1, &smaller), kMe), 0);
  EXPECT_EQ(count(kMe, tag), 1u) << "a smaller limit drops nothing queued";
  EXPECT_EQ(put(kMe, kMe, tag, ""), kErrMbxLimit);
  limit = 0;
  ASSERT_EQ(rk_limit_mbx_default(1, &limit), 0);
}

}  // namespace
}  // namespace rk::test
