// The kernel's shared-memory formats. Separately built processes read these
// records at fixed byte offsets, so every record is packed and every size and
// offset is checked at compile time. Integers are little-endian; every address
// is a 32-bit absolute address (an `Addr`), valid in every process because
// each one maps every segment at the address recorded for it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/shared_addr.h"
#include "include/rk.h"

namespace rk {

#define RK_CHECK_SIZE(T, n) static_assert(sizeof(T) == (n), #T " size")
#define RK_CHECK_OFFSET(T, f, n) static_assert(offsetof(T, f) == (n), #T "." #f " offset")

constexpr int kMaxKgds = 32;            // kgd indexes 0..31
constexpr int kSlots = 31;              // Client Process Table entries per application
// Layout number written at creation. 1618: the named mutexes hold the
// kernel's own state, the same on every target, no longer the C library's.
constexpr uint32_t kKgdLayout = 1618;
constexpr uint32_t kKernelVersion = 0x705;

// Flags word of the kgd.
constexpr uint16_t kFlagOwnerCheck = 2;  // client ids accepted only from their own process
constexpr uint16_t kFlagEveryone = 4;    // named objects accessible to everyone

#pragma pack(push, 1)

// Attribute Table record, also the unit in which clients pass attributes.
// Slot n of the table stands for attribute bit 1 << n.
constexpr int kAttrSlots = 32;
constexpr int kAttrNameBytes = 32;
// Name: any bytes, a first byte 0 marks an unused slot. Length: the
// leading name bytes that count, stored as at most 32.
using AttrRecord = rk_attr_record;
RK_CHECK_SIZE(AttrRecord, 36);
RK_CHECK_OFFSET(AttrRecord, name, 0);
RK_CHECK_OFFSET(AttrRecord, length, 32);

// Configuration time: hour, minute, second, hundredths, day, month, year,
// weekday, then one word without a defined value.
using ConfigTime = rk_config_time;
RK_CHECK_SIZE(ConfigTime, 18);
RK_CHECK_OFFSET(ConfigTime, weekday, 14);
RK_CHECK_OFFSET(ConfigTime, spare, 16);

// A process that takes the database lock, or queues for it, under a client
// id that another process registered (a forked child with its parent's
// id): its death, not the registered process's, releases what it holds.
struct ForeignUser {
  Addr entry;              // the CPT entry whose id it uses, 0 for a free record
  uint32_t pid;
  uint32_t start;          // its start time, as kept for registered processes
};
RK_CHECK_SIZE(ForeignUser, 12);
constexpr uint32_t kForeignUsers = 16;

// Kernel global data: the header of segment 0.
struct Kgd {
  char magic[4];            // "RKK" and NUL, written last
  uint32_t layout;          // kKgdLayout
  int16_t state;            // 0 not valid, 1 valid, 2 shutting down
  char title[80];
  char copyright[80];
  char name[16];            // RTDB name
  char app_dir[64];
  char prog_dir[64];
  uint32_t index;           // kgd index 0..31
  int32_t running_apps;
  uint32_t version;         // major in the high byte, minor in the low
  uint32_t nsegs;           // Kernel Segment Table entries in use
  uint32_t maxsegs;         // its capacity
  uint32_t nmems;           // Kernel Memory Table entries in use
  uint32_t maxmems;
  uint32_t nextra;          // extra segments
  uint32_t maxextra;
  uint32_t ndbrt;           // dbrt segments
  uint32_t maxdbrt;
  uint32_t ntypes;          // Kernel Data Type Table entries in use
  uint32_t maxtypes;
  uint32_t nkusrs;
  uint32_t napps;
  uint32_t nappdata;        // per-application records
  Addr kusr_table;
  Addr seg_table;
  Addr mem_table;
  Addr type_table;
  Addr app_blocks;
  Addr app_data;
  Addr lock_holder;         // CPT entry holding the database lock
  Addr queue_head;          // head of the lock/wait queue
  uint32_t lock_tick;       // tick of the last database lock grant
  uint32_t lock_slow;        // nonzero: lock takes and gives go through the kernel mutex
  int32_t mtx_owner;        // kernel mutex owner client id, -1 for none
  uint32_t mtx_pid;
  uint32_t mtx_depth;
  uint32_t mtx_count;
  uint32_t mtx_fail_code;   // first kernel mutex failure
  int32_t mtx_fail_id;
  uint32_t mtx_fail_pid;
  uint32_t mtx_fail_tick;
  uint32_t hist_cap;        // mutex history ring
  uint32_t hist_count;
  uint32_t hist_next;
  Addr hist_ids;            // u16[hist_cap]
  Addr hist_pids;           // u32[hist_cap]
  uint16_t reserved470;
  uint16_t flags;
  uint32_t create_tick;
  uint32_t creator_pid;
  uint16_t mbx_limit;       // default mailbox limit
  ConfigTime config_time;
  AttrRecord attrs[kAttrSlots];
  ForeignUser foreign[kForeignUsers];   // processes using a client id not registered by them
  uint8_t reserved1846[2048 - 1846];
  Addr intents;             // the IntentArea, in segment 0
  uint32_t next_free;       // next free mapping address
  Addr event_table;         // event-handle table
  // The Kernel Segment Table follows at offset 2060.
};
RK_CHECK_SIZE(Kgd, 2060);
RK_CHECK_OFFSET(Kgd, magic, 0);
RK_CHECK_OFFSET(Kgd, layout, 4);
RK_CHECK_OFFSET(Kgd, state, 8);
RK_CHECK_OFFSET(Kgd, title, 10);
RK_CHECK_OFFSET(Kgd, copyright, 90);
RK_CHECK_OFFSET(Kgd, name, 170);
RK_CHECK_OFFSET(Kgd, app_dir, 186);
RK_CHECK_OFFSET(Kgd, prog_dir, 250);
RK_CHECK_OFFSET(Kgd, index, 314);
RK_CHECK_OFFSET(Kgd, running_apps, 318);
RK_CHECK_OFFSET(Kgd, version, 322);
RK_CHECK_OFFSET(Kgd, nsegs, 326);
RK_CHECK_OFFSET(Kgd, maxsegs, 330);
RK_CHECK_OFFSET(Kgd, nmems, 334);
RK_CHECK_OFFSET(Kgd, maxmems, 338);
RK_CHECK_OFFSET(Kgd, nextra, 342);
RK_CHECK_OFFSET(Kgd, maxextra, 346);
RK_CHECK_OFFSET(Kgd, ndbrt, 350);
RK_CHECK_OFFSET(Kgd, maxdbrt, 354);
RK_CHECK_OFFSET(Kgd, ntypes, 358);
RK_CHECK_OFFSET(Kgd, maxtypes, 362);
RK_CHECK_OFFSET(Kgd, nkusrs, 366);
RK_CHECK_OFFSET(Kgd, napps, 370);
RK_CHECK_OFFSET(Kgd, nappdata, 374);
RK_CHECK_OFFSET(Kgd, kusr_table, 378);
RK_CHECK_OFFSET(Kgd, seg_table, 382);
RK_CHECK_OFFSET(Kgd, mem_table, 386);
RK_CHECK_OFFSET(Kgd, type_table, 390);
RK_CHECK_OFFSET(Kgd, app_blocks, 394);
RK_CHECK_OFFSET(Kgd, app_data, 398);
RK_CHECK_OFFSET(Kgd, lock_holder, 402);
RK_CHECK_OFFSET(Kgd, queue_head, 406);
RK_CHECK_OFFSET(Kgd, lock_tick, 410);
RK_CHECK_OFFSET(Kgd, lock_slow, 414);
RK_CHECK_OFFSET(Kgd, mtx_owner, 418);
RK_CHECK_OFFSET(Kgd, mtx_pid, 422);
RK_CHECK_OFFSET(Kgd, mtx_depth, 426);
RK_CHECK_OFFSET(Kgd, mtx_count, 430);
RK_CHECK_OFFSET(Kgd, mtx_fail_code, 434);
RK_CHECK_OFFSET(Kgd, mtx_fail_id, 438);
RK_CHECK_OFFSET(Kgd, mtx_fail_pid, 442);
RK_CHECK_OFFSET(Kgd, mtx_fail_tick, 446);
RK_CHECK_OFFSET(Kgd, hist_cap, 450);
RK_CHECK_OFFSET(Kgd, hist_count, 454);
RK_CHECK_OFFSET(Kgd, hist_next, 458);
RK_CHECK_OFFSET(Kgd, hist_ids, 462);
RK_CHECK_OFFSET(Kgd, hist_pids, 466);
RK_CHECK_OFFSET(Kgd, reserved470, 470);
RK_CHECK_OFFSET(Kgd, flags, 472);
RK_CHECK_OFFSET(Kgd, create_tick, 474);
RK_CHECK_OFFSET(Kgd, creator_pid, 478);
RK_CHECK_OFFSET(Kgd, mbx_limit, 482);
RK_CHECK_OFFSET(Kgd, config_time, 484);
RK_CHECK_OFFSET(Kgd, attrs, 502);
RK_CHECK_OFFSET(Kgd, foreign, 1654);
RK_CHECK_OFFSET(Kgd, reserved1846, 1846);
RK_CHECK_OFFSET(Kgd, intents, 2048);
RK_CHECK_OFFSET(Kgd, next_free, 2052);
RK_CHECK_OFFSET(Kgd, event_table, 2056);

constexpr uint32_t kSegTableOffset = 2060;

// kusr record: one domain with its number of application instances. Run
// managers pass these to the kernel, so the record is public.
using KusrRecord = rk_kusr;
RK_CHECK_SIZE(KusrRecord, 36);
RK_CHECK_OFFSET(KusrRecord, text, 16);
RK_CHECK_OFFSET(KusrRecord, instances, 32);

// Kernel Segment Table entry.
constexpr uint16_t kSegDbrt = 1;  // flags bit 0: a dbrt segment
struct SegEntry {
  Addr base;        // view address, the same in every process
  uint32_t size;
  uint32_t used;    // bytes carved from the start
  uint32_t free;
  uint32_t handle;  // mapping handle in the creating process
  uint16_t flags;
};
RK_CHECK_SIZE(SegEntry, 22);
RK_CHECK_OFFSET(SegEntry, size, 4);
RK_CHECK_OFFSET(SegEntry, used, 8);
RK_CHECK_OFFSET(SegEntry, free, 12);
RK_CHECK_OFFSET(SegEntry, handle, 16);
RK_CHECK_OFFSET(SegEntry, flags, 20);

// CPT entry stat values.
constexpr uint16_t kStatConfigured = 1;
constexpr uint16_t kStatLive = 2;
constexpr uint16_t kStatTermSeen = 4;
constexpr uint16_t kStatRevoked = 8;

// Accepted signal mask of a slot when its application starts and when a
// client registers: signals 0 and 1.
constexpr uint32_t kAcceptedAtStart = 3;

// Statistics counters of a CPT entry, in order.
enum CptStat {
  kStatTermTests, kStatReadCalls, kStatReadTags, kStatWriteCalls, kStatWriteTags,
  kStatLockGrants, kStatLockTicks, kStatWaits, kStatQueueEntries, kStatQueueTicks,
  kStatCount
};

// Client Process Table entry: one client slot of an application. Run
// managers build the template of an application in this layout, so the
// record is public.
using CptEntry = rk_cpt_entry;
static_assert(sizeof(CptEntry::stats) / sizeof(uint32_t) == kStatCount, "statistics counters");
RK_CHECK_SIZE(CptEntry, 866);
RK_CHECK_OFFSET(CptEntry, name, 4);
RK_CHECK_OFFSET(CptEntry, desc, 36);
RK_CHECK_OFFSET(CptEntry, cmdline, 116);
RK_CHECK_OFFSET(CptEntry, args, 244);
RK_CHECK_OFFSET(CptEntry, text2, 372);
RK_CHECK_OFFSET(CptEntry, modpath, 500);
RK_CHECK_OFFSET(CptEntry, type, 628);
RK_CHECK_OFFSET(CptEntry, stat, 630);
RK_CHECK_OFFSET(CptEntry, nmap, 632);
RK_CHECK_OFFSET(CptEntry, prty, 634);
RK_CHECK_OFFSET(CptEntry, config, 636);
RK_CHECK_OFFSET(CptEntry, lock, 638);
RK_CHECK_OFFSET(CptEntry, reserved640, 640);
RK_CHECK_OFFSET(CptEntry, wait_state, 642);
RK_CHECK_OFFSET(CptEntry, errnum, 644);
RK_CHECK_OFFSET(CptEntry, pid, 646);
RK_CHECK_OFFSET(CptEntry, stamp, 650);
RK_CHECK_OFFSET(CptEntry, stats, 654);
RK_CHECK_OFFSET(CptEntry, sig_pending, 694);
RK_CHECK_OFFSET(CptEntry, sig_accepted, 698);
RK_CHECK_OFFSET(CptEntry, own_bit, 702);
RK_CHECK_OFFSET(CptEntry, list_handle, 706);
RK_CHECK_OFFSET(CptEntry, list_count, 710);
RK_CHECK_OFFSET(CptEntry, id, 712);
RK_CHECK_OFFSET(CptEntry, env_refs, 714);
RK_CHECK_OFFSET(CptEntry, read_mask, 726);
RK_CHECK_OFFSET(CptEntry, write_mask, 730);
RK_CHECK_OFFSET(CptEntry, change_mask, 734);
RK_CHECK_OFFSET(CptEntry, handlers, 738);

// Application block: one application instance with its 31 client slots.
struct AppBlock {
  uint32_t registered;    // own bits of slots with a live client
  uint32_t queued;        // own bits of slots in the lock/wait queue
  uint32_t waiting[4];    // own bits per wait state 1..4
  uint32_t pending_wake;
  uint32_t instance1;
  uint32_t instance2;
  uint32_t active;        // 1 while the instance runs
  uint32_t kusr;          // index of the kusr record
  char instance[16];
  CptEntry cpt[kSlots];
  Addr pairs;             // this application's pair array
};
RK_CHECK_SIZE(AppBlock, 26910);
RK_CHECK_OFFSET(AppBlock, queued, 4);
RK_CHECK_OFFSET(AppBlock, waiting, 8);
RK_CHECK_OFFSET(AppBlock, pending_wake, 24);
RK_CHECK_OFFSET(AppBlock, instance1, 28);
RK_CHECK_OFFSET(AppBlock, instance2, 32);
RK_CHECK_OFFSET(AppBlock, active, 36);
RK_CHECK_OFFSET(AppBlock, kusr, 40);
RK_CHECK_OFFSET(AppBlock, instance, 44);
RK_CHECK_OFFSET(AppBlock, cpt, 60);
RK_CHECK_OFFSET(AppBlock, pairs, 26906);

// Records that monitoring and configuring processes exchange with the
// kernel, laid out like the tables they are copied from.
RK_CHECK_SIZE(rk_globals, 32);
RK_CHECK_OFFSET(rk_globals, queue_head, 2);
RK_CHECK_OFFSET(rk_globals, registered, 4);
RK_CHECK_OFFSET(rk_globals, queued, 8);
RK_CHECK_OFFSET(rk_globals, waiting, 12);
RK_CHECK_OFFSET(rk_globals, lock_tick, 28);
RK_CHECK_SIZE(rk_seg_record, 16);
RK_CHECK_OFFSET(rk_seg_record, size, 4);
RK_CHECK_OFFSET(rk_seg_record, used, 8);
RK_CHECK_OFFSET(rk_seg_record, free, 12);
RK_CHECK_SIZE(rk_env_record, 268);
RK_CHECK_OFFSET(rk_env_record, status_tag, 4);
RK_CHECK_OFFSET(rk_env_record, message_tag, 8);
RK_CHECK_OFFSET(rk_env_record, app_dir, 12);
RK_CHECK_OFFSET(rk_env_record, pgm_dir, 76);
RK_CHECK_OFFSET(rk_env_record, cmdline, 140);
RK_CHECK_SIZE(rk_kinst_record, sizeof(AppBlock));
RK_CHECK_OFFSET(rk_kinst_record, instance1, offsetof(AppBlock, instance1));
RK_CHECK_OFFSET(rk_kinst_record, instance2, offsetof(AppBlock, instance2));
RK_CHECK_OFFSET(rk_kinst_record, active, offsetof(AppBlock, active));
RK_CHECK_OFFSET(rk_kinst_record, kusr, offsetof(AppBlock, kusr));
RK_CHECK_OFFSET(rk_kinst_record, instance, offsetof(AppBlock, instance));

// Per-application record, reserved in the format. The kernel keeps in it,
// for each slot, when the process registered there started: with the
// process id, that tells a client whose process died from a later process
// that was given the same id. 0 when not known.
struct AppData {
  uint32_t started[kSlots];
  uint32_t reserved;
};
RK_CHECK_SIZE(AppData, 128);
RK_CHECK_OFFSET(AppData, started, 0);
RK_CHECK_OFFSET(AppData, reserved, 124);

// ---- Tag database layout ----

// Value kinds (the stat field of a type).
constexpr uint16_t kKindPlain = 0;     // the value bytes themselves
constexpr uint16_t kKindDigital = 1;   // bit 31 of the change word, no kernel bytes
constexpr uint16_t kKindString = 2;    // a StringDesc
constexpr uint16_t kKindMessage = 3;   // a MsgQueue; callers pass rk_message_records

constexpr int kTypeSlots = 200;        // type table capacity and pair array length
constexpr uint16_t kDigitalUsiz = 2;   // callers see a digital value as a u16 0 or 1

// Kernel Data Type Table entry; a type is named by its index in the table.
// Run managers pass their type tables in this layout, so it is public:
// stat (value kind, kKind*), max (tags, indexes 0..max-1), usiz (bytes of a
// value in a caller's buffer; 0 marks an unused slot), ksiz (bytes in the
// kernel after the attribute word), type_class (kept as given), per_app
// (nonzero: one value array per application), change_bytes (max x 8),
// value_bytes (max x (ksiz + 4)), shared_values (the shared value array when
// per_app is 0), name (compared over 16 bytes, NUL not required).
using TypeEntry = rk_type_entry;
RK_CHECK_SIZE(TypeEntry, 40);
RK_CHECK_OFFSET(TypeEntry, stat, 0);
RK_CHECK_OFFSET(TypeEntry, max, 2);
RK_CHECK_OFFSET(TypeEntry, usiz, 4);
RK_CHECK_OFFSET(TypeEntry, ksiz, 6);
RK_CHECK_OFFSET(TypeEntry, type_class, 8);
RK_CHECK_OFFSET(TypeEntry, per_app, 10);
RK_CHECK_OFFSET(TypeEntry, change_bytes, 12);
RK_CHECK_OFFSET(TypeEntry, value_bytes, 16);
RK_CHECK_OFFSET(TypeEntry, shared_values, 20);
RK_CHECK_OFFSET(TypeEntry, name, 24);

// The usiz of a string or mailbox type is the record size of the process
// that wrote the type table: 8 and 22 from a 32-bit one, 12 and 26 from a
// 64-bit one. Either is taken as it is and kept; neither lays out a buffer.
constexpr uint16_t kStringUsiz32 = 8;
constexpr uint16_t kStringUsiz64 = 12;
constexpr uint16_t kMessageUsiz32 = 22;
constexpr uint16_t kMessageUsiz64 = 26;

// Whether usiz is one a string (mailbox) type may give.
constexpr bool record_usiz(uint16_t stat, uint16_t usiz) {
  if (stat == kKindString) return usiz == kStringUsiz32 || usiz == kStringUsiz64;
  if (stat == kKindMessage) return usiz == kMessageUsiz32 || usiz == kMessageUsiz64;
  return false;
}

// Bytes that one element of a type takes in a buffer of this process, the
// only size any call steps by: a plain value its usiz, a digital value a
// u16, a string this process's rk_string_desc and a message its
// rk_message_record, whatever usiz the table holds for them. An unused slot
// (usiz 0) takes none.
constexpr uint16_t element_bytes(uint16_t stat, uint16_t usiz) {
  if (usiz == 0) return 0;
  switch (stat) {
    case kKindDigital: return kDigitalUsiz;
    case kKindString: return sizeof(rk_string_desc);
    case kKindMessage: return sizeof(rk_message_record);
    default: return usiz;
  }
}

// One type's arrays in one application; an application's pair array holds
// kTypeSlots of them, indexed by type. 0 until the arrays are placed.
struct TagArrayPair {
  Addr change_array;       // ChangeEntry[max]
  Addr value_array;        // max cells of ValueCellHeader + ksiz bytes
};
RK_CHECK_SIZE(TagArrayPair, 8);
RK_CHECK_OFFSET(TagArrayPair, change_array, 0);
RK_CHECK_OFFSET(TagArrayPair, value_array, 4);

// Change word bits.
constexpr uint32_t kChangeBits = 0x7FFFFFFFu;  // one change bit per slot (own bit)
constexpr uint32_t kDigitalBit = 0x80000000u;  // the value of a digital tag

// Change entry of one tag.
struct ChangeEntry {
  uint32_t change_word;    // kChangeBits and kDigitalBit
  uint32_t wait_word;      // own bits of the clients waiting on the tag
};
RK_CHECK_SIZE(ChangeEntry, 8);
RK_CHECK_OFFSET(ChangeEntry, change_word, 0);
RK_CHECK_OFFSET(ChangeEntry, wait_word, 4);

// The tags of a type that its arrays hold. The layout build records max x 8
// change-array bytes whenever it places a type's arrays; a type whose max was
// set without a layout (rk_set_type) holds fewer than its max, usually none,
// and no tag call may follow its arrays until the build has placed them.
inline uint32_t laid_out_max(const TypeEntry& t) { return t.change_bytes / sizeof(ChangeEntry); }
inline bool laid_out(const TypeEntry& t) { return t.change_bytes == t.max * sizeof(ChangeEntry); }

// Start of a tag's value cell; the type's ksiz kernel value bytes follow.
struct ValueCellHeader {
  uint32_t attr_word;      // attribute bits of the tag
};
RK_CHECK_SIZE(ValueCellHeader, 4);
RK_CHECK_OFFSET(ValueCellHeader, attr_word, 0);

// Kernel value of a string tag: a 32-bit address of segment memory,
// reserved once and never released, valid in every process.
struct StringDesc {
  Addr buffer;             // the text, 0 for none
  uint16_t size;           // capacity of the buffer in bytes
  uint16_t length;         // bytes of text in it
};
RK_CHECK_SIZE(StringDesc, 8);
RK_CHECK_OFFSET(StringDesc, buffer, 0);
RK_CHECK_OFFSET(StringDesc, size, 4);
RK_CHECK_OFFSET(StringDesc, length, 6);

// A caller's element of a string tag holds a real pointer of the caller's
// own width; it never goes into shared memory.
RK_CHECK_SIZE(rk_string_desc, sizeof(void*) + 4);
RK_CHECK_OFFSET(rk_string_desc, buffer, 0);
RK_CHECK_OFFSET(rk_string_desc, size, sizeof(void*));
RK_CHECK_OFFSET(rk_string_desc, length, sizeof(void*) + 2);

// Tag reference {type, index}, as callers pass it and as a tag list holds it.
using TagRef = rk_tag_ref;
RK_CHECK_SIZE(TagRef, 4);
RK_CHECK_OFFSET(TagRef, type, 0);
RK_CHECK_OFFSET(TagRef, index, 2);

// ---- Kernel memory pools ----

// A kernel memory handle is {u16 pool index, u16 slot word}; the slot word is
// the slot number in its low 10 bits and the pool's generation above them.
constexpr uint16_t kSlotNumberMask = 0x03FF;
constexpr uint16_t kGenerationStep = 1024;
constexpr uint16_t kPoolFree = 0xFFFF;        // free slot, free block, no next slot
constexpr uint32_t kPoolBytes = 65536;        // one pool segment
constexpr uint16_t kPoolSlots = 1000;         // u16 handle table at the pool base
constexpr uint16_t kPoolUnitBytes = 16;
constexpr uint32_t kPoolFirstBlock = 2000;    // offset of the first block: 2 x slots
constexpr uint16_t kPoolUnits = 3969;         // units from the first block; 32 bytes unused
constexpr uint32_t kMaxMemBytes = 63488;      // largest request: a whole empty pool

// Kernel Memory Table entry: one memory pool. Sizes and counts in units.
// Monitoring tools read it whole, so the record is public: base (pool
// segment; the handle table starts here), first_block (base +
// kPoolFirstBlock), first_free (lowest free block, 0 when none), last_block,
// unit_bytes (kPoolUnitBytes), slots (kPoolSlots), next_slot (slot the next
// allocation takes; kPoolFree when none), generation (a multiple of
// kGenerationStep), nused and nfree (blocks), used_units and free_units.
using MemEntry = rk_mem_record;
RK_CHECK_SIZE(MemEntry, 32);
RK_CHECK_OFFSET(MemEntry, base, 0);
RK_CHECK_OFFSET(MemEntry, first_block, 4);
RK_CHECK_OFFSET(MemEntry, first_free, 8);
RK_CHECK_OFFSET(MemEntry, last_block, 12);
RK_CHECK_OFFSET(MemEntry, unit_bytes, 16);
RK_CHECK_OFFSET(MemEntry, slots, 18);
RK_CHECK_OFFSET(MemEntry, next_slot, 20);
RK_CHECK_OFFSET(MemEntry, generation, 22);
RK_CHECK_OFFSET(MemEntry, nused, 24);
RK_CHECK_OFFSET(MemEntry, nfree, 26);
RK_CHECK_OFFSET(MemEntry, used_units, 28);
RK_CHECK_OFFSET(MemEntry, free_units, 30);

// Header of a pool block, one unit; the payload follows it.
struct PoolBlockHeader {
  uint16_t slot_word;      // the slot word of the block's handle, kPoolFree when free
  uint16_t size_units;     // header included
  uint8_t reserved[12];    // moved with the block, never read
};
RK_CHECK_SIZE(PoolBlockHeader, kPoolUnitBytes);
RK_CHECK_OFFSET(PoolBlockHeader, slot_word, 0);
RK_CHECK_OFFSET(PoolBlockHeader, size_units, 2);
RK_CHECK_OFFSET(PoolBlockHeader, reserved, 4);

// ---- Message values ----

// A message record as a message block keeps it: no data address or size of
// its own (both 0), the length of the data and the writer's caller fields.
struct MessageRecord {
  Addr data;
  uint16_t size;
  uint16_t length;
  uint8_t caller_fields[14];
};
RK_CHECK_SIZE(MessageRecord, 22);
RK_CHECK_OFFSET(MessageRecord, data, 0);
RK_CHECK_OFFSET(MessageRecord, size, 4);
RK_CHECK_OFFSET(MessageRecord, length, 6);
RK_CHECK_OFFSET(MessageRecord, caller_fields, 8);

// A caller's element of a mailbox tag: the same fields, its data address a
// real pointer of the caller's own width.
RK_CHECK_SIZE(rk_message_record, sizeof(void*) + 18);
RK_CHECK_OFFSET(rk_message_record, data, 0);
RK_CHECK_OFFSET(rk_message_record, size, sizeof(void*));
RK_CHECK_OFFSET(rk_message_record, length, sizeof(void*) + 2);
RK_CHECK_OFFSET(rk_message_record, caller_fields, sizeof(void*) + 4);
static_assert(sizeof(MessageRecord::caller_fields) == sizeof(rk_message_record::caller_fields), "caller fields");

constexpr uint16_t kMbxOwned = 1;          // MsgQueue flags: the mailbox has an owner
constexpr uint32_t kMbxLimitUnit = 1024;   // mailbox limits are in KiB

// Kernel value of a mailbox tag: a queue of message blocks. Only count tells
// emptiness, since 0 is a valid memory handle. All zero: empty, unowned, default limit.
struct MsgQueue {
  uint32_t head;           // memory handle of the first message
  uint32_t tail;           // memory handle of the last message
  uint16_t flags;          // kMbxOwned
  uint16_t owner;          // client id of the owner, 0 when none
  uint32_t queued_bytes;   // sum of length + kMsgBlockHeader over the messages
  uint16_t limit_kib;      // 0: the kgd's default limit
  uint16_t count;          // queued messages
};
RK_CHECK_SIZE(MsgQueue, 20);
RK_CHECK_OFFSET(MsgQueue, head, 0);
RK_CHECK_OFFSET(MsgQueue, tail, 4);
RK_CHECK_OFFSET(MsgQueue, flags, 8);
RK_CHECK_OFFSET(MsgQueue, owner, 10);
RK_CHECK_OFFSET(MsgQueue, queued_bytes, 12);
RK_CHECK_OFFSET(MsgQueue, limit_kib, 16);
RK_CHECK_OFFSET(MsgQueue, count, 18);

// Start of the memory block of one queued message; length data bytes follow.
struct MessageBlock {
  uint32_t next;           // memory handle of the next message, 0 in the last
  uint16_t writer;         // client id of the writer
  uint16_t zero;           // always 0
  MessageRecord record;    // data 0, size 0, length and the writer's caller fields
};
constexpr uint32_t kMsgBlockHeader = 30;
RK_CHECK_SIZE(MessageBlock, kMsgBlockHeader);
RK_CHECK_OFFSET(MessageBlock, next, 0);
RK_CHECK_OFFSET(MessageBlock, writer, 4);
RK_CHECK_OFFSET(MessageBlock, zero, 6);
RK_CHECK_OFFSET(MessageBlock, record, 8);

// ---- dbrt segments ----

constexpr uint32_t kMaxDbrtSegs = 400;
constexpr uint32_t kDbrtSegBytes = 2048000;   // least size of every dbrt segment but the first

// Header at the base of a dbrt segment; blocks tile the rest.
struct DbrtSegHeader {
  Addr seg_entry;          // the segment's Kernel Segment Table entry
  Addr free_head;          // first block on the free list, 0 when none
};
RK_CHECK_SIZE(DbrtSegHeader, 8);
RK_CHECK_OFFSET(DbrtSegHeader, seg_entry, 0);
RK_CHECK_OFFSET(DbrtSegHeader, free_head, 4);

// Header of a dbrt block; an array is the payload that follows it.
struct DbrtBlockHeader {
  Addr owner;              // base of the segment
  Addr prev_block;         // previous block in address order, 0 for the first
  Addr prev_free;          // free-list links
  Addr next_free;
  uint32_t payload_bytes;
};
RK_CHECK_SIZE(DbrtBlockHeader, 20);
RK_CHECK_OFFSET(DbrtBlockHeader, owner, 0);
RK_CHECK_OFFSET(DbrtBlockHeader, prev_block, 4);
RK_CHECK_OFFSET(DbrtBlockHeader, prev_free, 8);
RK_CHECK_OFFSET(DbrtBlockHeader, next_free, 12);
RK_CHECK_OFFSET(DbrtBlockHeader, payload_bytes, 16);

// A segment's own overhead: its header and one block header.
constexpr uint32_t kDbrtSegOverhead = sizeof(DbrtSegHeader) + sizeof(DbrtBlockHeader);
static_assert(kDbrtSegOverhead == 28, "dbrt segment overhead");

// ---- Tag lists ----

// A tag list is one memory block of count TagRefs in the setter's order; the
// references must take fewer than this many bytes.
constexpr uint32_t kTagListLimitBytes = 65536;

// ---- Intent records ----
//
// An update of shared data that takes more than one store is announced in
// an intent record first, so that whoever takes over from a process that
// died inside it can finish or undo it. There are two records: one for the
// data that the database lock guards (kernel memory, message queues, tag
// values, segment space), one for the tables that only the kernel mutex
// guards. Only the holder of the guarding lock writes a record.

// The width bytes at addr held old before the update stored there.
struct IntentWord {
  Addr addr;
  uint32_t old;
  uint16_t width;          // 1, 2 or 4
};
RK_CHECK_SIZE(IntentWord, 10);

constexpr uint16_t kIntentRedo = 8;

// A copy that the repair finishes: len bytes from src to dst, done of them
// copied, in pieces of at most chunk bytes taken in address order (dst lies
// below src, so what a piece overwrites has been copied already); then the
// redo words are stored.
struct IntentMove {
  Addr src;
  Addr dst;
  uint32_t len;
  uint32_t chunk;
  uint32_t done;
  uint16_t nredo;
  IntentWord redo[kIntentRedo];   // `old` holds the value to store
};
RK_CHECK_SIZE(IntentMove, 102);

constexpr uint32_t kIntentWords = 64;
constexpr uint16_t kIntentOpen = 1;

struct IntentRecord {
  uint16_t state;          // 0 idle, kIntentOpen while an update runs
  uint16_t count;          // words logged
  uint32_t pid;            // the updating process, with its start: a repair
  uint32_t start;          // never undoes the update of a process that lives
  Addr bytes_at;           // bytes whose old content waits in the area's buffer, 0 none
  uint32_t bytes_len;
  Addr zero_at;            // bytes that an undo sets to zero again; 0 none
  uint32_t zero_len;
  IntentMove move;         // src 0: none
  IntentWord words[kIntentWords];
};
RK_CHECK_SIZE(IntentRecord, 770);
RK_CHECK_OFFSET(IntentRecord, bytes_at, 12);
RK_CHECK_OFFSET(IntentRecord, move, 28);
RK_CHECK_OFFSET(IntentRecord, words, 130);

enum IntentKind : uint32_t { kDataIntent = 0, kMutexIntent = 1 };

// Old bytes of the widest value a cell holds: a plain value or a string's
// text, at most 65535 bytes.
constexpr uint32_t kIntentBytes = 65536;

struct IntentArea {
  IntentRecord records[2];   // by IntentKind
  Addr buffer;               // kIntentBytes of segment 0, for old bytes
  uint32_t capacity;
};
RK_CHECK_SIZE(IntentArea, 1548);
RK_CHECK_OFFSET(IntentArea, buffer, 1540);

#pragma pack(pop)

// Kernel Segment Table entry n.
inline SegEntry* seg_entry(const Kgd* kgd, uint32_t n) { return at<SegEntry>(kgd->seg_table) + n; }

// Event-handle table: one row per client (a x 31 + s), one u32 handle per
// client event in it; row and column count are applications x 31.
inline Unaligned<uint32_t>* event_row(const Kgd* kgd, uint16_t id) {
  const uint32_t row_bytes = kgd->napps * kSlots * 4;
  return at<Unaligned<uint32_t>>(kgd->event_table + (id >> 8) * kSlots * row_bytes + (id & 255) * row_bytes);
}

// The per-application record of application a.
inline AppData* app_data_of(const Kgd* kgd, uint32_t a) { return at<AppData>(kgd->app_data) + a; }

}  // namespace rk
