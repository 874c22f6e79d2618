// The kernel's shared-memory formats. Separately built processes read these
// records at fixed byte offsets, so every record is packed and every size and
// offset is checked at compile time. Integers are little-endian; every address
// is a 32-bit absolute address (an `Addr`), valid in every process because
// each one maps every segment at the address recorded for it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/shared_addr.h"

namespace rk {

#define RK_CHECK_SIZE(T, n) static_assert(sizeof(T) == (n), #T " size")
#define RK_CHECK_OFFSET(T, f, n) static_assert(offsetof(T, f) == (n), #T "." #f " offset")

constexpr int kMaxKgds = 32;            // kgd indexes 0..31
constexpr int kSlots = 31;              // Client Process Table entries per application
constexpr uint32_t kKgdLayout = 1617;   // layout number written at creation
constexpr uint32_t kKernelVersion = 0x705;

// Flags word of the kgd.
constexpr uint16_t kFlagOwnerCheck = 2;  // client ids accepted only from their own process
constexpr uint16_t kFlagEveryone = 4;    // named objects accessible to everyone

#pragma pack(push, 1)

// Attribute Table record, 32 of them in the kgd.
struct AttrRecord {
  uint8_t bytes[36];
};
RK_CHECK_SIZE(AttrRecord, 36);

// Configuration time: hour, minute, second, hundredths, day, month, year,
// weekday, then one word without a defined value.
struct ConfigTime {
  uint16_t hour, minute, second, hundredths, day, month, year, weekday;
  uint16_t spare;
};
RK_CHECK_SIZE(ConfigTime, 18);

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
  uint32_t reserved414;
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
  AttrRecord attrs[32];
  uint8_t reserved1654[2048 - 1654];
  Addr reserved2048;
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
RK_CHECK_OFFSET(Kgd, reserved414, 414);
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
RK_CHECK_OFFSET(Kgd, reserved1654, 1654);
RK_CHECK_OFFSET(Kgd, reserved2048, 2048);
RK_CHECK_OFFSET(Kgd, next_free, 2052);
RK_CHECK_OFFSET(Kgd, event_table, 2056);

constexpr uint32_t kSegTableOffset = 2060;

// kusr record: one domain with its number of application instances.
struct KusrRecord {
  char name[16];
  char text[16];
  uint32_t instances;
};
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

// Statistics counters of a CPT entry, in order.
enum CptStat {
  kStatTermTests, kStatReadCalls, kStatReadTags, kStatWriteCalls, kStatWriteTags,
  kStatLockGrants, kStatLockTicks, kStatWaits, kStatQueueEntries, kStatQueueTicks,
  kStatCount
};

// Client Process Table entry: one client slot of an application.
struct CptEntry {
  Addr link;              // next entry in the lock/wait queue
  char name[32];          // task name; empty marks a free slot
  char desc[80];
  char cmdline[128];      // configured command line
  char args[128];         // the registered process's arguments
  char text2[128];        // second configured text
  char modpath[128];      // executable of the registered process
  uint16_t type;
  uint16_t stat;
  uint16_t nmap;          // segment table entries mapped in the client's process
  uint16_t prty;          // queue priority, higher first
  uint16_t config;        // configured value from the template
  uint16_t lock;          // database lock nesting depth
  uint16_t reserved640;
  uint16_t wait_state;    // 0 none, 1 lock, 2 tag, 3 mailbox, 4 either
  int16_t errnum;         // last error number
  uint32_t pid;
  uint32_t stamp;         // tick of the lock grant or of the wait's start
  uint32_t stats[kStatCount];
  uint32_t sig_pending;
  uint32_t sig_accepted;
  uint32_t own_bit;
  uint32_t list_handle;   // tag list
  uint16_t list_count;
  uint16_t id;            // the client id
  uint32_t env_refs[3];   // control, status and message tag references
  uint32_t read_mask;
  uint32_t write_mask;
  uint32_t change_mask;
  Addr handlers[32];      // attribute handlers
};
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

// Per-application record, reserved.
struct AppData {
  uint8_t bytes[128];
};
RK_CHECK_SIZE(AppData, 128);

#pragma pack(pop)

// Event-handle table: one row per client (a x 31 + s), one u32 handle per
// client event in it; row and column count are applications x 31.
inline uint32_t* event_row(const Kgd* kgd, uint16_t id) {
  const uint32_t row_bytes = kgd->napps * kSlots * 4;
  return at<uint32_t>(kgd->event_table + (id >> 8) * kSlots * row_bytes + (id & 255) * row_bytes);
}

}  // namespace rk
