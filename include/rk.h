/* Public interface of the real-time database kernel (librk.so).
 *
 * Clients are Linux programs of the library's own variant (x86_64 natively,
 * or i386, built with -m32), linked with -lrk. Shared memory keeps 32-bit
 * formats on every variant; the records below that hold addresses of a
 * caller's own memory hold real pointers of the caller's width. Every
 * function is plain C; results are int unless noted: 0 (or a count or id)
 * on success, -1 on failure with the reason kept as an error number for
 * rk_errno, or a negated error number for calls made before the caller has
 * a client id. */
#ifndef RK_H
#define RK_H

#include <stdint.h>

#if defined(RK_BUILDING_KERNEL)
#define RK_API __attribute__((visibility("default")))
#else
#define RK_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Client id: application index in the high byte, slot 0..30 in the low. */
typedef uint16_t rk_client_id;

#pragma pack(push, 1)

/* Tag reference: the tag's type, then its index within the type. */
typedef struct rk_tag_ref {
  uint16_t type;
  uint16_t index;
} rk_tag_ref;

/* A domain of the RTDB and its number of application instances. */
typedef struct rk_kusr {
  char name[16];      /* the domain name clients give in RKDOMAIN */
  char text[16];
  uint32_t instances;
} rk_kusr;

/* One entry of a type table (40 bytes). The caller fills stat, max, usiz,
 * type_class, per_app and name; the kernel writes ksiz, change_bytes and
 * value_bytes back. */
typedef struct rk_type_entry {
  uint16_t stat;           /* value kind: 0 plain, 1 digital, 2 string, 3 message queue */
  uint16_t max;            /* number of tags of the type */
  uint16_t usiz;           /* plain: bytes of one value; digital: 2; string: 8 or 12 and
                              mailbox: 22 or 26, the record size of whoever wrote the
                              table, kept as given; 0 marks an unused slot. Buffers are
                              laid out by the caller's own sizes (see "Tag values"). */
  uint16_t ksiz;           /* bytes of one value kept in the kernel */
  uint16_t type_class;     /* kept as given */
  uint16_t per_app;        /* nonzero: every application has its own values */
  uint32_t change_bytes;   /* max x 8 */
  uint32_t value_bytes;    /* max x (ksiz + 4) */
  uint32_t shared_values;  /* address of the shared value array, else 0 */
  char name[16];           /* compared over all 16 bytes */
} rk_type_entry;

/* One slot of an application's Client Process Table (866 bytes). A run
 * manager passes 31 of them to rk_init_app as the application's template;
 * the kernel takes type, stat, prty, config, name, desc, cmdline, text2 and
 * env_refs from it. The other fields belong to the kernel. */
typedef struct rk_cpt_entry {
  uint32_t link;           /* next entry in the lock/wait queue */
  char name[32];           /* task name; empty marks a free slot */
  char desc[80];
  char cmdline[128];       /* configured command line */
  char args[128];          /* the registered process's arguments */
  char text2[128];         /* second configured text */
  char modpath[128];       /* executable of the registered process */
  uint16_t type;           /* configured process type */
  uint16_t stat;           /* 1 configured, 2 live client, 4 termination seen, 8 lock revoked */
  uint16_t nmap;           /* segment table entries mapped in the client's process */
  uint16_t prty;           /* queue priority, higher first */
  uint16_t config;         /* configured value */
  uint16_t lock;           /* database lock nesting depth */
  uint16_t reserved640;
  uint16_t wait_state;     /* 0 none, 1 lock, 2 tag, 3 mailbox, 4 either */
  int16_t errnum;          /* last error number */
  uint32_t pid;            /* process id of the registered client, 0 when none */
  uint32_t stamp;          /* tick of the lock grant or of the wait's start */
  uint32_t stats[10];      /* term-flag tests, read calls, read tags, write calls,
                              write tags, lock grants, ticks holding the lock,
                              waits, queue entries, ticks queued */
  uint32_t sig_pending;
  uint32_t sig_accepted;
  uint32_t own_bit;        /* 1 << slot */
  uint32_t list_handle;    /* tag list */
  uint16_t list_count;
  uint16_t id;             /* the client id */
  uint32_t env_refs[3];    /* control, status and message tag references */
  uint32_t read_mask;
  uint32_t write_mask;
  uint32_t change_mask;
  uint32_t handlers[32];   /* 1 where the client's process has a handler for that attribute
                              bit, 0 where none: the functions themselves are kept in that
                              process's own memory, never here */
} rk_cpt_entry;

/* A caller's element of a string tag (8 bytes on a 32-bit target, 12 on a
 * 64-bit one): the text's buffer in the caller's own memory, its capacity
 * and the bytes in use. It has content when all three are nonzero. The
 * kernel keeps its own copy of a string in shared memory and never stores
 * this pointer there. */
typedef struct rk_string_desc {
  char* buffer;            /* the text, null for none */
  uint16_t size;           /* capacity of the buffer in bytes */
  uint16_t length;         /* bytes of text in it */
} rk_string_desc;

/* A caller's element of a mailbox tag (22 bytes on a 32-bit target, 26 on a
 * 64-bit one): one message. */
typedef struct rk_message_record {
  void* data;              /* message bytes in the caller's memory, null for none */
  uint16_t size;           /* capacity of that buffer (reading) */
  uint16_t length;         /* bytes to send, or bytes delivered */
  uint8_t caller_fields[14];  /* the writer's, handed to the reader unchanged */
} rk_message_record;

/* An attribute (36 bytes): a name of arbitrary bytes, not necessarily
 * NUL-terminated, of which the first `length` count (at most 32). A first
 * byte of 0 marks an unused slot of the Attribute Table. */
typedef struct rk_attr_record {
  char name[32];
  int32_t length;
} rk_attr_record;

#pragma pack(pop)

/* The error number of the client's last failed call, sign-extended; -1 when
 * the id names no live client. */
RK_API int rk_errno(rk_client_id id);

/* The kernel's error numbers, one table for every call: rk_errno gives
 * them, and the calls made before the caller has a client id return them
 * negated. */
#define RK_ENOBLOCK 1        /* no free block of that size in a kernel memory pool */
#define RK_ENOMEM 2          /* no memory; objects or arrays could not be made */
#define RK_ENORTDB 4         /* no RTDB of that name, or it is not valid */
#define RK_ENOTREG 5         /* no live client there; no slot or application of that name */
#define RK_ERANGE 7          /* a number out of range */
#define RK_EBADTAG 9         /* bad tag reference or bad type entry */
#define RK_ENULL 10          /* a required pointer is null, or a bad registration value */
#define RK_ENOCHANGE 11      /* no changed tag found */
#define RK_ENOSLOT 12        /* no free slot or application block */
#define RK_ENOCLIENT 13      /* no client or slot of that name, or an empty task name */
#define RK_ENOAPP 14         /* no application of those names, or an empty instance name */
#define RK_EINUSE 22         /* slot held by a live client, instance running, process attached */
#define RK_ENOTLOCKED 23     /* unlock without holding the database lock */
#define RK_ELOCKQUEUED 24    /* lock requested while queued */
#define RK_ELOCKREVOKED 25   /* the lock had been revoked */
#define RK_EWAITQUEUED 26    /* wait requested while queued */
#define RK_ETERM 27          /* the wait ended: the termination signal is pending */
#define RK_ENOLIST 30        /* the caller has no tag list */
#define RK_ENOBODY 32        /* nobody was woken */
#define RK_ENOSIG 33         /* no signal both pending and accepted */
#define RK_ESIGNAL 34        /* the wait ended: another accepted signal is pending */
#define RK_ENOTMBX 35        /* the type is not a mailbox type */
#define RK_ENOMSG 36         /* no message at that position */
#define RK_EOWNER 37         /* the mailbox has another owner */
#define RK_EATTRFULL 38      /* the Attribute Table is full */
#define RK_EATTRBIT0 39      /* attribute bit 0 given */
#define RK_ENOATTR 40        /* no attribute record matches */
#define RK_EEXIST 41         /* an RTDB of that name exists */
#define RK_ENOMORE 42        /* no (further) RTDB */
#define RK_EMUTEX 45         /* the kernel mutex could not be taken */
#define RK_EMBXLIMIT 46      /* the message would take the mailbox over its limit */
#define RK_ETYPETABLE 47     /* the new type table does not fit the current one */
#define RK_ENOOP 48          /* the new type table changes nothing */
#define RK_ENAN 50           /* an 8-byte value is NaN */
#define RK_EPLUSINF 51       /* an 8-byte value is +infinity */
#define RK_EMINUSINF 52      /* an 8-byte value is -infinity */
#define RK_ESAMETAG 53       /* a move's source and destination are the same tag */
#define RK_EAPPTOSHARED 54   /* a per-application source moved to a shared destination */
#define RK_EBOTHRAW 55       /* both tags of a move have type class 5 */
#define RK_EAPPDOWN 57       /* the application named by a second client id is not active */
#define RK_EREFUSED 60       /* an attribute handler refused the element without a number of its own */

/* The kernel's text for an error number, or for its negation (so that a
 * registration's result can be passed as it is): "no message at that
 * position" for 36 and -36. 0 gives "no error"; a number the kernel does
 * not use gives "unknown error number". Never null; the texts are
 * constant. */
RK_API const char* rk_strerror(int error);

/* ---- RTDB lifecycle ---- */

/* Creates an RTDB named `name` (1..15 characters) with its domains, each
 * with its number of application instances, and its type table (the kernel
 * writes ksiz and the array sizes back into `layout`). The segment table
 * holds `segments` + 400 entries, the memory table `memories`. Returns the
 * kgd index 0..31, or -1 when this process is already attached, -41 when an
 * RTDB of that name exists (case ignored), -10 for a bad name, a missing
 * record pointer, or a segment table (segments + 400) or memory table above
 * 65535 entries, -2 when the shared memory or the kernel objects cannot be
 * made, or the negated error of the layout build. */
RK_API int rk_create_rtdb(const char* program_dir, const char* app_dir, const char* name,
                          const rk_kusr* kusr_records, uint32_t kusr_count, rk_type_entry* layout,
                          uint32_t layout_size, uint32_t segments, uint32_t memories, uint16_t flags);

/* Deletes the attached RTDB, or else the one of kgd_index. 0 when deleted
 * or still in use by running applications, -1 when there is no valid RTDB.
 * Every name of the RTDB goes at once; processes that still map it keep
 * their memory until they let go. */
RK_API int rk_delete_rtdb(int kgd_index);

/* Attach to the first RTDB, or to the next one above *index; the kgd index
 * is stored through index. 0, -7 for a null pointer, -22 when already
 * attached, -42 when there is no (further) RTDB (32 is stored then). Only
 * complete RTDBs are seen, and without flag 4 only the caller's user's; an
 * RTDB whose processes are all gone is removed as it is found. */
RK_API int rk_map_firstkgd(int* index);
RK_API int rk_map_nextkgd(int* index);

/* Detaches this process from its RTDB; when no other process holds it, it
 * goes (as it does when the last process holding it ends). Always 0. */
RK_API int rk_unmap_kgd(void);

/* ORs *flags into the flags of the attached RTDB. 0, or -7 for null. */
RK_API int rk_init(uint16_t* flags);

/* Marks the attached RTDB not valid: client ids stop resolving. 0. */
RK_API int rk_reinit(void);

/* Either pointer may be null. tick: milliseconds of a monotonic clock.
 * time[0..7]: local hour, minute, second, hundredths, day, month, year,
 * day of the week (0 Sunday). 0. */
RK_API int rk_get_tick(uint32_t* tick, uint16_t* time);

/* "Korvamentis 7.5", in the same static buffer on every call. */
RK_API const char* rk_get_title(void);

/* The kernel's copyright notice. */
RK_API const char* rk_get_copyrt(void);

/* Installs a grown type table while clients run: the existing types first,
 * unchanged but for larger max (a string or mailbox type may give either
 * of its usiz values; the table keeps the one it has), then the new ones;
 * `count` entries in all.
 * Existing tags keep their values and change bits. 0, or -1 with 47 (does
 * not fit the current table), 48 (changes nothing), 9 (bad entry), 2 (the
 * arrays cannot be placed), 10 (null table) or 45. */
RK_API int rk_dbrt_adjust(rk_client_id id, rk_type_entry* table, uint32_t count);

/* ---- Database lock and waiting ---- */

/* Takes the database lock, waiting as long as needed; it nests per client.
 * A holder whose process died loses the lock to the waiters within about
 * a tenth of a second; clients asleep on tags it changed before it could
 * wake them are woken then, as its write would have woken them (so too
 * when a process dies inside such a wake: by the next taker of the kernel
 * mutex). 0, or -1
 * (24: the client is queued; 45: the kernel mutex failed).
 * While nobody queues for the lock, a take and the give that follows it
 * change the holder with one atomic swap each and leave the kernel mutex
 * alone: the kernel mutex's acquisition count and its history ring in the
 * kgd describe the contended path only (queueing, hand-over, waking,
 * clean-up), not every take of the database lock. Grants, ticks holding
 * the lock, stamps and the kgd's lock tick are kept on both paths.
 * A caller that finds the lock held looks for it a while (some tens of
 * microseconds at most, and without spinning while the holder shares its
 * CPU) before it queues, unless it would be first in the queue: it never
 * takes the lock ahead of a queued client, and meanwhile it is not queued
 * (wait state 0). */
RK_API int rk_lock(rk_client_id id);

/* Takes the lock only if nobody holds it. 0, or -1 (24 as above; no new
 * error number when another client holds it). */
RK_API int rk_lock_nowait(rk_client_id id);

/* Gives one nesting level back; the last one hands the lock on. 0, or -1
 * (23: not holding; 25: the lock had been revoked, it is released anyway). */
RK_API int rk_unlock(rk_client_id id);

/* Sleeps until woken: mode 1 for a tag change, 2 for a mailbox, 3 for
 * either. The lock is handed on meanwhile and held again on return. 0, or
 * -1 (7: bad mode; 26: queued already; 27: the termination signal is
 * pending; 34: another accepted signal is pending). */
RK_API int rk_wait(rk_client_id id, int mode);

/* ---- Applications ---- */

/* Starts an instance of `domain` named `instance` (1..15 characters) in the
 * RTDB `rtdb_name`, with its Client Process Table written from the 31
 * entries of `table`; writes the title and the copyright notice to standard
 * output first. Returns the application index, or -42 when there is no RTDB
 * of that name, -4 when it is not valid, -45 when the kernel mutex failed,
 * -22 when that instance runs already, -12 when the domain has no free
 * block, -10 for a null argument or an instance name of 16 characters or
 * more, -14 for an empty instance name. */
RK_API int rk_init_app(const char* rtdb_name, const char* domain, const char* instance, const rk_cpt_entry* table);

/* Ends the application of id (its slot part is not used). Queued clients of
 * the application are woken and their calls fail; a database lock held in
 * it passes to the next waiter. Ending application 0 first waits, at most
 * 60 s, for the others to end. The last application to end deletes the
 * RTDB. 0, or -1 when the application is not running or the kernel mutex
 * failed. */
RK_API int rk_exit_app(rk_client_id id);

/* ---- Clients ---- */

/* Copies the environment variable `name` into buffer (size bytes) and
 * returns buffer; null when it is not set, or when its value does not fit
 * with its NUL (the buffer is then left empty). */
RK_API char* rk_getvar(const char* name, char* buffer, uint32_t size);

/* Registers the calling process as a client named `task` (at most 31
 * characters kept) in the RTDB named by RKNAME, in the instance RKUSER of
 * domain RKDOMAIN: the slot configured under that name, else the first free
 * one. Task names are compared over their first 31 characters, ignoring
 * case: two names that differ only after that name the same slot. Returns
 * the client id, or -10 when one of the three is not set or has 16
 * characters or more, else as rk_proc_init_app. */
RK_API int16_t rk_proc_init(const char* task, const char* desc);

/* As rk_proc_init with the three names given. Returns the client id, or -10
 * for a null argument or a blank in a name, -13 for an empty task, -14 for
 * an empty instance, -4 when there is no valid RTDB of that name, -45 when
 * the kernel mutex failed, -5 when no running instance has those names,
 * -12 when no slot is free (or a task "#<application>:<slot>" names no slot
 * of it), -22 when a live client holds the slot. A slot whose client's
 * process died (it was killed, or ended without leaving) is taken back from
 * it first, as if its exit trap had run. */
RK_API int16_t rk_proc_init_app(const char* task, const char* desc, const char* rtdb_name, const char* domain,
                                const char* instance);

/* The client leaves: its slot stays configured, its queue place goes and a
 * database lock it holds passes to the next waiter. Nothing is done for
 * slot 0. 0, or -1 when the id names no live client or the mutex failed. */
RK_API int rk_proc_exit(rk_client_id id);

/* Ends every client of the calling process, slot 0 included, and gives back
 * the kernel mutex if the process holds it. For a client process's exit. */
RK_API void rk_exit_trap(void);

/* ---- Kernel memory ---- */

/* Kernel memory handle: pool index in the low half, slot word in the high
 * half. 0 is a valid handle. */
typedef uint32_t rk_mem_handle;

/* Allocates a zeroed block of at least `bytes` (at most 63488) in the
 * RTDB's shared memory pools and stores its handle, only on success. 0, or
 * -1 (7: too large; 10: null handle pointer; 2: no pool can be added;
 * 1: no room in the chosen pool). */
RK_API int rk_alloc_mem(rk_client_id id, uint32_t bytes, rk_mem_handle* handle);

/* Stores the block's address and its capacity in bytes; either pointer may
 * be null. The address is the same in every process, and holds only until
 * the next allocation, which may move blocks: reach the block again under
 * each hold of the database lock. 0, or -1 (7: the handle names no block). */
RK_API int rk_access_mem(rk_client_id id, rk_mem_handle handle, void** address, uint32_t* bytes);

/* Frees the block. 0, or -1 (7: the handle names no block). */
RK_API int rk_free_mem(rk_client_id id, rk_mem_handle handle);

/* ---- Tag values ----
 *
 * A batch names `count` tags by their references and passes their values
 * packed one after the other in `buffer`, without padding. Each element
 * takes its size in the calling process, and every call that steps through
 * a caller's buffer (reads, writes, the change scans, rk_read_no_clear,
 * rk_write_no_overwrite, rk_get_tag_info's offsets) steps by it: plain tags
 * their type's usiz bytes, digital tags 2 (a uint16_t: a read gives 0 or 1,
 * a write takes zero or nonzero), string tags sizeof(rk_string_desc), mailbox
 * tags sizeof(rk_message_record): 8 and 22 bytes in a 32-bit process, 12 and
 * 26 in a 64-bit one, whatever usiz the type table holds. The whole batch
 * runs under one hold of the database lock. A change of a tag sets the
 * change bits of every client of the application (the writer's too) and
 * wakes the clients waiting on it; a read clears the reader's own bit.
 * Attribute arrays hold one uint32_t per reference.
 *
 * A batch does what it can and reports the first failure: -1 with the
 * error number of the element that failed, although the other elements
 * were done. 9: a type that does not exist stops the batch there; an index
 * not below the type's count skips the element. 50, 51, 52: NaN, +infinity
 * or -infinity offered to an 8-byte plain tag, which keeps its value. 2: no
 * memory for a string buffer. 60: an attribute handler refused the element
 * without an error number of its own; the batch stops there (a handler
 * that stores one leaves that). A mailbox read of an empty or another
 * client's owned mailbox gives 36 or 37, a mailbox write over the limit 46,
 * or 1 or 2 without memory for the message. Before any element: 10 for a null
 * `refs` or `buffer`, or attribute values without masks; 57 when the target
 * application does not run. A call whose id does not resolve returns -1
 * and stores nothing.
 *
 * Strings: a write copies the text into the tag's buffer, cut to its size
 * without an error, and never takes more than the smaller of the
 * descriptor's length and size from the caller. A tag without a buffer gets
 * one of the size the writer's descriptor gives; a descriptor with a null
 * buffer and a nonzero size only makes the tag's buffer, of that size. A
 * read copies into the caller's buffer, cut to its size (a text that fills
 * it is not terminated); a caller descriptor without a buffer receives
 * nothing. */

/* Reads the tags into buffer; with attributes not null, each tag's
 * attribute word too. A mailbox read takes its first message. */
RK_API int rk_read(rk_client_id id, const rk_tag_ref* refs, uint32_t count, void* buffer);
RK_API int rk_read_attr(rk_client_id id, const rk_tag_ref* refs, uint32_t count, void* buffer,
                        uint32_t* attributes);

/* Writes the tags of the caller's application; a tag whose value is the
 * same is no change. A mailbox write appends the message.
 * A writer that dies partway through a batch (killed, crashed) leaves the
 * elements written before it died written, each one whole, and the rest
 * as they were; the element it was writing is its old value or its new
 * one, never a mix, for every width and kind: the next client to take the
 * database lock puts back what a dead writer left half done. */
RK_API int rk_write(rk_client_id id, const rk_tag_ref* refs, uint32_t count, const void* values);

/* As rk_write in the application of `target` (its slot is not used). */
RK_API int rk_write_app(rk_client_id id, rk_client_id target, const rk_tag_ref* refs, uint32_t count,
                        const void* values);

/* As rk_write_app; with attribute_values not null, each tag's attribute
 * bits selected by its mask take the bits of its value. A change of
 * attribute bits alone sets no change bits, but wakes the waiting clients
 * whose change mask meets those bits. */
RK_API int rk_write_attr(rk_client_id id, rk_client_id target, const rk_tag_ref* refs, uint32_t count,
                         const void* values, const uint32_t* attribute_values, const uint32_t* attribute_masks);

/* As rk_write and rk_write_attr in the caller's application, but every
 * tag stored is a change, even with the same value. */
RK_API int rk_forced_write(rk_client_id id, const rk_tag_ref* refs, uint32_t count, const void* values);
RK_API int rk_forced_write_attr(rk_client_id id, const rk_tag_ref* refs, uint32_t count, const void* values,
                                const uint32_t* attribute_values, const uint32_t* attribute_masks);

/* Wakes the clients of the caller's application whose bits (1 << slot) are
 * set in *mask and that sleep in rk_wait in a mode that `mode` releases:
 * mode 1, a tag change, releases rk_wait modes 1 and 3; mode 2, a mailbox,
 * modes 2 and 3; mode 3 every mode. A woken client returns from rk_wait
 * once it holds the lock again: at once when nobody holds it. The caller
 * need not hold the lock. 0, or -1 (7: null mask or bad mode; 32: nobody
 * was woken). */
RK_API int rk_wakeup(rk_client_id id, const uint32_t* mask, int mode);

/* ---- Change bits ----
 *
 * Every tag has, in every application, one change bit per client slot (the
 * client's own bit, 1 << slot): a change of the tag sets them all, the
 * client's reads clear its own. Bit 31 of a change word is a digital tag's
 * value and never a change bit. The calls below work in the caller's
 * application, under one hold of the database lock, with the errors of a
 * batch of tag values: 10 for a null pointer, 9 for a bad reference (a
 * type that does not exist stops the call there, an index not below the
 * type's count is passed over and the call goes on and still fails with
 * 9), 60 or the handler's own number when a read handler refuses.
 *
 * A change scan reads one tag: from the element *position of refs on, the
 * first whose change bit is the caller's, into the start of buffer (as the
 * first element of a batch), clearing the caller's bit, and stores that
 * element's index in *position; a caller that calls again with the same position walks
 * every changed tag of its list in order. A mailbox is only looked at: its
 * first message's record (length and caller fields, size 0, data address
 * kept, no data copied) is stored and its change bits stay, so it is found
 * again until a read takes its last message. A successful scan counts one
 * read call and one tag. */

/* A change scan. With attribute not null, the tag's attribute word is
 * stored there too. 0, or -1 with 7 (*position not below count), 11 (no
 * element from *position on has changed; *position becomes count), 9 (a bad
 * reference: *position is the bad type's element, or the tag read after a
 * bad index, which is read all the same), or a mailbox's 36 (no message). */
RK_API int rk_change_read(rk_client_id id, const rk_tag_ref* refs, uint32_t count, uint32_t* position,
                          void* buffer);
RK_API int rk_change_read_attr(rk_client_id id, const rk_tag_ref* refs, uint32_t count, uint32_t* position,
                               void* buffer, uint32_t* attribute);

/* For each element i, change_flags[i] becomes 1 when the tag has changed
 * for the caller, else 0, and a changed tag is read into element i of the
 * packed buffer (a mailbox as by a change scan). An element with a bad
 * index keeps its flag. Finding nothing changed is success; a call without
 * an error counts one read call and one tag. */
RK_API int rk_change_read_all(rk_client_id id, const rk_tag_ref* refs, uint32_t count, uint16_t* change_flags,
                              void* buffer);

/* A change scan from *position to the end of the list and on from its
 * start; when nothing is changed, the caller sleeps until one of the tags
 * changes (it need not hold the lock, which is given to others meanwhile),
 * then scans round the list once more. There is no time-out. 0 with the
 * caller's error number as it was, or -1 with the errors of a change scan,
 * 11 when the wake-up left nothing changed (an attribute change, a
 * rk_wakeup), or rk_wait's: 27 or 34 for a signal, 26 when queued already.
 * The caller's wait bits on the list are cleared again whatever happened. */
RK_API int rk_change_wait(rk_client_id id, const rk_tag_ref* refs, uint32_t count, uint32_t* position,
                          void* buffer);
RK_API int rk_change_wait_attr(rk_client_id id, const rk_tag_ref* refs, uint32_t count, uint32_t* position,
                               void* buffer, uint32_t* attribute);

/* change_flags[i] becomes 1 when the tag, in the application of `other`,
 * has changed for the client `other`, else 0 (an element with a bad index
 * gives 0). Nothing is cleared or counted. -1 with 57 when other's
 * application does not run, 5 when no client lives in its slot.
 * rk_test_chng is the caller's own test. */
RK_API int rk_test_chng(rk_client_id id, const rk_tag_ref* refs, uint32_t count, uint16_t* change_flags);
RK_API int rk_test_app_chng(rk_client_id id, rk_client_id other, const rk_tag_ref* refs, uint32_t count,
                            uint16_t* change_flags);

/* Set or clear the caller's change bit on each tag, or every change bit
 * of each tag (a digital value stays), without waking anybody: a bit set
 * by hand is a change for the caller alone. */
RK_API int rk_set_chng(rk_client_id id, const rk_tag_ref* refs, uint32_t count);
RK_API int rk_clear_chng(rk_client_id id, const rk_tag_ref* refs, uint32_t count);
RK_API int rk_clear_all_chng(rk_client_id id, const rk_tag_ref* refs, uint32_t count);

/* Set or clear the caller's wait bit on each tag: a change of a tag that
 * carries it wakes the caller from rk_wait modes 1 and 3, and makes writers
 * wake it whenever the tag changes while the bit stays. */
RK_API int rk_set_wait(rk_client_id id, const rk_tag_ref* refs, uint32_t count);
RK_API int rk_clear_wait(rk_client_id id, const rk_tag_ref* refs, uint32_t count);

/* Kept for older clients: they do nothing and return 0. They take no
 * arguments; an old caller that passes some loses nothing, since the caller
 * removes what it pushed. */
RK_API int rk_set_sync(void);
RK_API int rk_clear_sync(void);

/* ---- Tag lists ----
 *
 * Every client can own one tag list: tag references in the order they were
 * given, duplicates kept, not checked until they are scanned (a bad one then
 * gives 9). The list lives in a kernel memory block; installing a new list
 * frees the old one, and a slot set up for a new client starts without a
 * list. A list holds at most 15872 references, the largest kernel memory
 * block (63488 bytes). */

/* Installs `count` references from `tags` as the tag list of the live client
 * called `name` in the caller's application, replacing its list; count 0
 * removes it. The owner is then posted signal 2, which wakes it from
 * rk_wait if it accepts the signal. 0, or -1 with 10 (null name, or null
 * tags with count above 0), 13 (no slot of that name), 5 (no live client
 * there: nothing is stored), 2 (count x 4 is 65536 or more), 7 (larger
 * than a kernel memory block), 1 or 2 (no memory), 45. On failure the old
 * list stays. */
RK_API int rk_set_tag_list(rk_client_id id, const char* name, const rk_tag_ref* tags, uint32_t count);

/* Copies the caller's own list into buffer, room for `capacity` references,
 * and stores its length in *count_out, also when the call then fails. 0, or
 * -1 with 10 (null count_out; null buffer with a list), 30 (no list), 2
 * (capacity below the length). */
RK_API int rk_get_tag_list(rk_client_id id, rk_tag_ref* buffer, uint32_t capacity, uint32_t* count_out);

/* A change scan of the caller's own list from its start: the first listed
 * tag that changed for the caller is read into value (which needs room for
 * the largest element size in the list, as a batch counts it), its change
 * bit cleared, its position stored in *index and its reference in *tag_out. Does not block.
 * 0, or -1 with 10 (a null pointer), 30 (no list), 11 (nothing changed;
 * *index is the list's length), or a change scan's errors. */
RK_API int rk_change_read_tag_list(rk_client_id id, rk_tag_ref* tag_out, uint32_t* index, void* value);

/* As rk_change_read_tag_list, but from the position *index holds on entry,
 * and when nothing from there on changed the caller sleeps once until a
 * listed tag changes or an accepted signal arrives, then scans once more
 * from the same position (over the list as it is then). 0 with the caller's
 * error number as it was, or -1 with 10, 30, 7 (*index not below the
 * length), 11 (nothing changed, even after the sleep), 27 or 34 (the sleep
 * was ended by the termination signal or another accepted one; signal 2
 * when the list is replaced), or a change scan's errors. */
RK_API int rk_change_wait_tag_list(rk_client_id id, rk_tag_ref* tag_out, uint32_t* index, void* value);

/* ---- Mailboxes ----
 *
 * A mailbox is a tag of a message-queue type (stat 3): a first-in,
 * first-out queue of messages, each taking its length + 30 bytes of the
 * mailbox's limit. Besides rk_read and rk_write, which take the first
 * message and append one, these calls work on a single mailbox named by a
 * reference passed by value. The `_app` calls reach the mailbox in the
 * application of `target` (its slot is not used; the caller's own when both
 * ids are of one application); the others, the caller's own. Every
 * application reaches the same queue of a type whose values are shared.
 * Each call holds the database lock while it runs. 0, or -1 with the error
 * number, checked in this order: 57 the target's application does not run;
 * 10 a required pointer is null; 9 a type that does not exist, 35 a type
 * that is no mailbox type, 9 a type without element size or an index not
 * below its count; then the call's own (36 no message at that position,
 * 37 the mailbox has another owner, 46 over the limit, 1, 2 or 7 from
 * kernel memory). A call whose id does not resolve returns -1 and stores
 * nothing. */

/* Stores the number of queued messages in *count. */
RK_API int rk_count_mbx(rk_client_id id, rk_tag_ref ref, uint32_t* count);

/* Fills records (an array of rk_message_record, in this process's layout)
 * with up to n queued messages from position `start` (0 the oldest),
 * leaving them queued: each record gets the message's length and
 * the writer's caller fields, size 0, and keeps its data address; no data
 * is copied. *n_out is the number filled. 36 when start is not below the
 * count; n 0 with start below the count gives 0 records. */
RK_API int rk_query_mbx(rk_client_id id, rk_tag_ref ref, rk_message_record* records, uint32_t start, uint32_t n,
                        uint32_t* n_out);

/* Takes message `index` (0 the oldest) into the record: at most its size of
 * data to its data address (none without one), the rest of a longer
 * message lost, its length set to what was delivered, the writer's caller
 * fields. A take that empties the mailbox clears its change bits, in every
 * application for a shared type. 36 when index is not below the count, 37
 * when another client owns the mailbox, even an empty one.
 * Delivery to a reader that dies is at most once: a reader killed before
 * its take is complete leaves the message queued, whole, for the next
 * reader; one killed after it, before it has used what it took, has taken
 * the message with it. A message whose write returned 0 is never lost
 * otherwise, and never delivered twice. */
RK_API int rk_read_mbx(rk_client_id id, rk_tag_ref ref, rk_message_record* record, uint32_t index);
RK_API int rk_read_app_mbx(rk_client_id id, rk_client_id target, rk_tag_ref ref, rk_message_record* record,
                           uint32_t index);

/* Appends a copy of the record's message (length bytes from its data
 * address, none when that is 0) with its caller fields. The mailbox becomes
 * changed for every client of the application (of every application, for a
 * shared type), the clients waiting on it as a tag change are woken (rk_wait
 * modes 1 and 3; mode 2 alone is not), and an owner is posted signal 3.
 * Anybody may write, owned mailbox or not. A refused write changes nothing
 * and wakes nobody: 46 when the mailbox's limit (its own, else the
 * default) would be passed, 7 when the message does not fit a kernel
 * memory block (63458 data bytes at most). */
RK_API int rk_write_mbx(rk_client_id id, rk_tag_ref ref, const rk_message_record* record);
RK_API int rk_write_app_mbx(rk_client_id id, rk_client_id target, rk_tag_ref ref, const rk_message_record* record);

/* own nonzero: the caller becomes the mailbox's owner, the only client that
 * may read it; own 0: the mailbox has no owner. 37 when another client owns
 * it. The mailbox stays owned by the slot when its client leaves. */
RK_API int rk_set_owner_mbx(rk_client_id id, rk_tag_ref ref, uint32_t own);

/* For each of the n references, mode 1 sets the mailbox's limit (KiB, 0 for
 * the default) from limits[i], any other mode stores it in limits[i]. The
 * first bad reference ends the call with its error; the mailboxes before it
 * stay done. The pointers are needed only when n is above 0. Messages
 * already queued stay. */
RK_API int rk_limit_mbx(rk_client_id id, uint16_t mode, const rk_tag_ref* refs, uint32_t n, uint16_t* limits);
RK_API int rk_limit_app_mbx(rk_client_id id, rk_client_id target, uint16_t mode, const rk_tag_ref* refs, uint32_t n,
                            uint16_t* limits);

/* The RTDB's default mailbox limit in KiB (0 at creation: no limit), for
 * mailboxes whose own limit is 0: mode 1 sets it from *limit, any other
 * mode stores it in *limit. No client id is needed. 0, or -1 (no error
 * number) for a null limit, no attached RTDB or a failed kernel mutex. */
RK_API int rk_limit_mbx_default(uint16_t mode, uint16_t* limit);

/* ---- Names and signals ---- */

/* The client id of the slot named `name` (case ignored; "#0:<slot>" names a
 * slot by number) in the caller's application, whether a client is
 * registered there or not. -1 with 5 when no slot has that name; -1 and no
 * error number for a null name. */
RK_API int16_t rk_name_to_id(rk_client_id id, const char* name);

/* As rk_name_to_id in the application of domain `kusr_name` and instance
 * `inst_name`, running or not; -1 with 14 when there is none. */
RK_API int16_t rk_name_to_id_ex(rk_client_id id, const char* kusr_name, const char* inst_name, const char* name);

/* Copies the name of the slot that `id` names, registered or not (a free
 * slot gives ""), into buffer (32 bytes). 0, or -1 when the application
 * does not run or the slot is 31 or more; 10 for a null buffer. */
RK_API int rk_id_to_name(rk_client_id id, char* buffer);

/* Signals 0..31: a posted signal stays pending until received; a signal is
 * received only while accepted. Signals 0 and 1 are accepted from
 * registration on, all others held until rk_hold_sig accepts them. Signal 1
 * asks the receiver to end (its termination flag); 2 and 3 are kept for
 * the kernel's tag-list and mailbox-owner signals. A posted signal that the receiver
 * accepts wakes it from rk_wait, which fails with 27 (signal 1) or 34. */

/* Posts `sig` to the client named `name` in the caller's application. 0, or
 * -1 with the first of 13 (no slot of that name), 5 (no live client
 * there), 7 (sig not 0..31), 45. */
RK_API int rk_send_sig(rk_client_id id, const char* name, int sig);

/* As rk_send_sig in the application of domain `kusr_name` and instance
 * `inst_name`; 14 when there is none, checked first. */
RK_API int rk_send_sig_ex(rk_client_id id, const char* kusr_name, const char* inst_name, const char* name,
                          int sig);

/* Posts `sig` to the client `target_id` of any application. 0, or -1 with
 * 57 (its application does not run), 5 (no live client in that slot), 7. */
RK_API int rk_send_app_sig(rk_client_id id, rk_client_id target_id, int sig);

/* The lowest signal that is pending and accepted, which is consumed unless
 * it is 0 or 1: those are returned again until held. -1 with 33 when there
 * is none. */
RK_API int rk_recv_sig(rk_client_id id);

/* Holds `sig` (hold nonzero) or accepts it (hold 0); its pending bit stays.
 * 1 when it was held before, 0 when accepted, -1 with 7 for sig not 0..31. */
RK_API int rk_hold_sig(rk_client_id id, int sig, int hold);

/* Not supported: always -1. */
RK_API int rk_attach_queue(void);
RK_API int rk_detach_queue(void);

/* Wakes the client named `name` in the caller's application if it sleeps
 * in rk_wait in a mode that `mode` releases, as for rk_wakeup. 0, or -1
 * with 13 (no slot of that name), 7 (bad mode), 32 (nobody was woken). */
RK_API int rk_wakeup_proc(rk_client_id id, const char* name, int mode);

/* ---- Termination flags ---- */

/* Ask a client to end: rk_send_sig, rk_send_sig_ex and rk_send_app_sig
 * with signal 1, with their results. The receiver's stat also gets the
 * termination-seen bit (4), even while it holds signal 1. */
RK_API int rk_set_term_flag(rk_client_id id, const char* name);
RK_API int rk_set_term_flag_ex(rk_client_id id, const char* kusr_name, const char* inst_name, const char* name);
RK_API int rk_set_app_term_flag(rk_client_id id, rk_client_id target_id);

/* 1 when the client's termination flag is set (signal 1 pending and
 * accepted), else 0; -1 when id names no live client of a running
 * application. Takes no lock, works for any process's client and counts
 * the call in the client's first statistics counter. */
RK_API int rk_test_term_flag(rk_client_id id);

/* ---- Attributes ---- */

/* An attribute is a named bit: the RTDB keeps a table of 32 names for all
 * applications, and the name in slot n stands for bit 1 << n. Every tag
 * carries an attribute word, one per value array, whose bits may be set
 * whether defined or not. A value that stands for one attribute is turned
 * into its slot by its lowest set bit. */

/* A function of the client's own process that sees the client's reads
 * (read 1) and writes (read 0) of the tags whose attribute word meets its
 * read or write mask, before the value is touched: its entry, the tag's
 * change entry, value cell, kernel value (the cell past its attribute
 * word) and the caller's element. It returns -1 to fail the whole call
 * (with the error number it stored in the entry), 1 to pass the tag over,
 * anything else to let it be handled. Handlers of the bits that meet the
 * mask run from bit 0 up; the first nonzero result ends them. A handler is
 * called only in the process that installed it. */
typedef int (*rk_attr_handler)(rk_cpt_entry* entry, void* change, void* cell, void* value, void* element,
                               int read);

/* Defines each of the `count` records, or finds it when a used slot holds
 * the same length and the same leading bytes, and stores its bit in
 * bits_out. A new record takes the first unused slot, whole, its length cut
 * to 32. -1 with the first of: 10 for a null array; 7 for a record whose
 * length is negative or whose first byte is 0 (its bit becomes 0, no slot is
 * taken, the others go on); 38 when no slot is left for a new record, which
 * ends the call there (the bits before it are stored, the rest left as they
 * were); 45. */
RK_API int rk_define_attr(rk_client_id id, uint32_t count, const rk_attr_record* records, uint32_t* bits_out);

/* For each bit, copies the record of its slot, used or not, into
 * records_out. -1 with 10 for a null array, or 39 when a bit is 0: that
 * output is left as it was and the others are done. */
RK_API int rk_get_attr_name(rk_client_id id, uint32_t count, rk_attr_record* records_out, const uint32_t* bits);

/* For each record, the bit of the first slot holding the same length and
 * leading bytes, used or not. -1 with 10 for a null array, or 40 when a
 * record matches no slot (a negative length matches none): its bit becomes
 * 0 and the others are done. */
RK_API int rk_get_attr_bit(rk_client_id id, uint32_t count, const rk_attr_record* records, uint32_t* bits_out);

/* Adds each element of bits to the caller's read (write) mask and makes
 * handlers[i] the handler of its lowest bit, replacing the one before; a
 * null handler leaves the bit without effect. The masks only grow. Only the
 * process registered in the slot may install handlers: from any other
 * process the call returns -1 and stores nothing, whatever the RTDB's rule
 * for client ids. -1 with 10 for a null array, the database lock's error,
 * or 39 for a bit value of 0, which is passed over while the others are
 * done. */
RK_API int rk_set_read_mask(rk_client_id id, uint32_t count, const uint32_t* bits, const rk_attr_handler* handlers);
RK_API int rk_set_write_mask(rk_client_id id, uint32_t count, const uint32_t* bits, const rk_attr_handler* handlers);

/* Replaces the caller's change mask with *mask: the attribute bits whose
 * change wakes the caller while it waits on a tag. -1 with 10 for a null
 * mask, or the database lock's error. */
RK_API int rk_set_change_mask(rk_client_id id, const uint32_t* mask);

/* Changes the attribute word of each tag in the caller's application with
 * values[i]: op 0 sets its bits, 1 clears them, 2 toggles them. A word
 * that changed wakes the clients waiting on the tag whose change mask meets
 * the changed bits (in every application for a shared type); no change
 * bits are set. -1 with 10 for a null array, 7 for an op other than 0..2,
 * checked in that order before the lock is taken; 9 as for a batch (a bad
 * type ends it, a bad index passes the tag over). */
RK_API int rk_modify_attr(rk_client_id id, const rk_tag_ref* tags, uint32_t count, const uint32_t* values, int op);

/* Stores the attribute word of each tag of the caller's application in
 * words_out; a tag with a bad index leaves its element as it was. -1 with 10
 * for a null array, or 9 as for rk_modify_attr. */
RK_API int rk_query_attr(rk_client_id id, const rk_tag_ref* tags, uint32_t count, uint32_t* words_out);

/* ---- Non-overwriting write and non-clearing read ---- */

/* As rk_write in the caller's application, but the writer's own change
 * bit stays clear after a change, so its next change scan does not report
 * its own write, and no attribute handler runs. An element whose byte in
 * no_overwrite is nonzero (no_overwrite may be null: none is) is not
 * stored while the tag carries the writer's own change bit, that is when
 * somebody (the writer's own rk_write included) changed it after the
 * writer last read it or cleared its bit: the tag keeps that value and the
 * element is no error. Mailboxes ignore protection: the message is
 * appended. When kept_out is not null, kept_out[i] becomes 1 for an element
 * kept so, else 0. Errors as rk_write. */
RK_API int rk_write_no_overwrite(rk_client_id id, const rk_tag_ref* refs, uint32_t count, const void* values,
                                 const uint8_t* no_overwrite);
RK_API int rk_write_no_overwrite_kept(rk_client_id id, const rk_tag_ref* refs, uint32_t count, const void* values,
                                      const uint8_t* no_overwrite, uint8_t* kept_out);
/* As rk_read, but no change bit is cleared and no handler runs; a mailbox
 * read still takes its first message. */
RK_API int rk_read_no_clear(rk_client_id id, const rk_tag_ref* refs, uint32_t count, void* buffer);

/* ---- Value conversion ----
 *
 * Type classes, as given in the type table: 0 digital (a digital type),
 * 1 16-bit integer (a 2-byte plain type), 2 double (an 8-byte plain type),
 * 3 string (a string type), 4 32-bit integer (a 4-byte plain type). */

/* Copies the value of tag *source into tag *destination, converted between
 * their classes, in every application that has its own values of the
 * destination type (else once), each as rk_write_app of one element: change
 * bits, wake-ups and statistics as for that write. Integers become text as
 * "%ld", doubles as "%.14g" (at most 39 characters). Text (its first 39
 * characters) becomes a double as strtod reads it, and an integer the same
 * on every target: white space, an optional sign and the decimal digits up
 * to the first other character (0 without any); a number beyond the 32-bit
 * range gives INT32_MAX or INT32_MIN (so "3000000000" gives 2147483647),
 * a 16-bit integer takes the low 16 bits of that (so "70000" gives 4464 and
 * "3000000000" -1), digital 1 for any nonzero value. Doubles become
 * integers truncated toward zero. A NaN, an infinity into a non-digital
 * class, or a value outside the destination's integer range leaves that
 * application's destination as it was, without error. Between tags of one
 * class the destination also takes the source's change word. -1 with 10
 * (null reference), 53 (the same tag twice; no lock taken), 9 (bad type or
 * index of either), 54 (per-application source into a shared destination),
 * 55 (both of class 5, a class outside 0..4, or a type whose value kind
 * is not that of its class), or the write's error,
 * which ends the move (the applications done before keep their value). */
RK_API int rk_move(rk_client_id id, const rk_tag_ref* source, const rk_tag_ref* destination);

/* ---- Introspection and dumps ----
 *
 * Read-only views of the kernel's tables for monitoring tools, which need
 * only be attached (rk_map_firstkgd): none stores an error number. Every
 * call gives -1 (a dump: only its two header lines, and 0) when the process
 * is attached to no RTDB, and -1 for a null record or a negative index. */

#pragma pack(push, 1)

/* The state of the database lock and of one application (32 bytes). */
typedef struct rk_globals {
  uint16_t lock_holder;    /* client id holding the database lock, 0xFFFF for none */
  uint16_t queue_head;     /* first client of the lock/wait queue, 0xFFFF for none */
  uint32_t registered;     /* own bits of slots with a live client */
  uint32_t queued;         /* own bits of queued slots */
  uint32_t waiting[4];     /* own bits per wait state 1..4 */
  uint32_t lock_tick;      /* tick of the last grant of the database lock */
} rk_globals;

/* One Kernel Segment Table entry (16 bytes). */
typedef struct rk_seg_record {
  uint32_t base;           /* address, the same in every process */
  uint32_t size;
  uint32_t used;
  uint32_t free;
} rk_seg_record;

/* One Kernel Memory Table entry: a memory pool (32 bytes). Counts and
 * sizes are in units of unit_bytes. */
typedef struct rk_mem_record {
  uint32_t base;
  uint32_t first_block;
  uint32_t first_free;     /* 0 when none */
  uint32_t last_block;
  uint16_t unit_bytes;
  uint16_t slots;
  uint16_t next_slot;
  uint16_t generation;
  uint16_t nused;          /* allocated blocks */
  uint16_t nfree;          /* free blocks */
  uint16_t used_units;
  uint16_t free_units;
} rk_mem_record;

#pragma pack(pop)

/* The kernel version word: major in the high byte, minor in the low (0x705). */
RK_API int rk_get_version(void);
/* The lock state and the first six words of the application of id (which
 * must run), or of application 0. */
RK_API int rk_get_app_globals(rk_client_id id, rk_globals* record);
RK_API int rk_get_globals(rk_globals* record);
/* Counts of the segment and memory tables in use, and entry n of each
 * (-1 when n is not below the count or the entry is empty). */
RK_API int rk_get_nsegs(void);
RK_API int rk_get_seg(int n, rk_seg_record* record);
RK_API int rk_get_nmems(void);
RK_API int rk_get_mem(int n, rk_mem_record* record);
/* The number of types (0 when the kernel mutex fails), and type n: stat,
 * max, usiz, ksiz, type_class, per_app and name are filled; change_bytes,
 * value_bytes and shared_values are left as the caller had them. */
RK_API int rk_get_ntypes(void);
RK_API int rk_get_type(int n, rk_type_entry* record);
/* The number of the type called `name` in the attached RTDB: the type
 * whose name is exactly that, else the first whose name differs only in
 * case. -RK_EBADTAG when no type is called so, -RK_ENORTDB when this
 * process has no RTDB attached, -RK_ENULL for a null name, -RK_EMUTEX when
 * the kernel mutex failed. */
RK_API int rk_find_type(const char* name);
/* Describes type slot n, which exists but is not laid out yet (for a
 * configuring process before clients run): stat, max, usiz and type_class
 * from record, ksiz derived (plain: usiz even and not 0; digital: usiz 2;
 * string: usiz 8 or 12; message queue: usiz 22 or 26) and written back to
 * record; max x (ksiz + 12) bytes of segment space are reserved. Tag calls refuse such a
 * type with 9 until its arrays exist: rk_dbrt_adjust places them when its
 * table gives the type at least that max. -1 when n is not below the number of
 * types, the type is laid out already, the record is refused or no space
 * is left. */
RK_API int rk_set_type(int n, rk_type_entry* record);
/* For each of the n references: offsets[i] the running sum of the element
 * sizes of the references before it, as a batch steps (plain: usiz;
 * digital: 2; string: sizeof(rk_string_desc); mailbox:
 * sizeof(rk_message_record); a reference with a bad index still takes its
 * type's size), so the element's place in this process's packed buffer;
 * classes[i] its type class, or -1 for a type that does not exist (-3 for type
 * 65535), -2 for an index not below max (-3 for index 65535). Either array
 * may be null. -1 when any code is negative. */
RK_API int rk_get_tag_info(const rk_tag_ref* tags, uint32_t n, int16_t* classes, uint16_t* offsets);
/* 31, the slots of an application, attached or not. */
RK_API int rk_get_nprocs(void);
/* Copies the slot of id, live or not, into record: link, the six texts,
 * type, stat, nmap, prty, config, lock, wait_state, errnum, pid, stamp, the
 * statistics, id and env_refs[0]; the other fields are left as they were. */
RK_API int rk_get_proc(rk_client_id id, rk_cpt_entry* record);
/* Configures the slot of id, which must hold no live client: type, stat,
 * prty, name and desc from record; errnum, nmap, pid, lock, link,
 * wait_state, stamp and the statistics become 0 in the slot and in record;
 * the slot's signals start as at registration and it has no tag list. */
RK_API int rk_set_proc(rk_client_id id, rk_cpt_entry* record);

/* The four dumps write a title line, a column line and one row per entry
 * into text, every line ending in CR LF, and a NUL; they return 0. The
 * largest text each can write, NUL included, follows from the table
 * limits: at most 65535 segments and memory pools (a segment count and a
 * pool index are 16 bits wide), 200 types, 31 slots. */
#define RK_DUMP_SEGS_MAX (31 + 34 + 65535 * 51 + 1)
#define RK_DUMP_MEMS_MAX (30 + 40 + 65535 * 52 + 1)
#define RK_DUMP_TYPES_MAX (33 + 41 + 200 * 31 + 1)
#define RK_DUMP_PROCS_MAX (31 + 70 + 31 * 100 + 1)
RK_API int rk_dump_segs(char* text);
RK_API int rk_dump_mems(char* text);
RK_API int rk_dump_types(char* text);
/* Configured slots of application 0 only. */
RK_API int rk_dump_procs(char* text);

/* Checks the shared structures of the attached RTDB: the kgd, the segment
 * table, the dbrt segments, the memory pools, the tag arrays, the change
 * and wait words, the string descriptors, the mailboxes, the tag lists, the
 * database lock with its queue and the attribute table. It reads only, under
 * the kernel mutex at a moment when nobody holds the database lock, so a
 * running RTDB is checked between its clients' calls. For each fault found
 * (at most one per structure) report, unless null, is called with one line
 * that names the structure ("pool 3: ...", "mailbox MBX[2] app 1: ...",
 * "lock queue: ...") and the caller's context, after the kernel mutex is
 * given back. Returns the number of faults, 0 for a consistent RTDB, or -1
 * when the process is attached to no RTDB, the kernel mutex fails, or the
 * database lock stays held for two seconds (by a client stuck holding it,
 * one that died and was not noticed yet, or the caller's own client). */
RK_API int rk_check_rtdb(void (*report)(const char* line, void* context), void* context);

/* ---- Environment, users and instances ---- */

#pragma pack(push, 1)

/* A slot's environment (268 bytes). */
typedef struct rk_env_record {
  rk_tag_ref control_tag;
  rk_tag_ref status_tag;
  rk_tag_ref message_tag;
  char app_dir[64];        /* read only */
  char pgm_dir[64];        /* read only */
  char cmdline[128];       /* the slot's configured command line */
} rk_env_record;

/* An application instance (the size of an application block, 26910 bytes,
 * of which these fields are used). */
typedef struct rk_kinst_record {
  uint8_t reserved0[28];
  uint32_t instance1;      /* words free for the configuring process */
  uint32_t instance2;
  uint32_t active;         /* 1 while the instance runs */
  int32_t kusr;            /* index of its domain's kusr record */
  char instance[16];       /* instance name */
  uint8_t reserved60[26910 - 60];
} rk_kinst_record;

/* A local time and a word the kernel only keeps (18 bytes). */
typedef struct rk_config_time {
  uint16_t hour, minute, second, hundredths, day, month, year, weekday;
  uint16_t spare;
} rk_config_time;

#pragma pack(pop)

/* At most len bytes of the RTDB name, always NUL-terminated in the last. */
RK_API int rk_get_name(char* buffer, int len);
/* The application and program directories (64 bytes each); id is not used.
 * -1 when no RTDB is attached or buffer is null. */
RK_API int rk_get_app_dir(rk_client_id id, char* buffer);
RK_API int rk_get_pgm_dir(rk_client_id id, char* buffer);
/* The configured command line (128 bytes) and the control, status and
 * message tags of the live client id. */
RK_API int rk_get_cmd_line(rk_client_id id, char* buffer);
RK_API int rk_get_ctrl_tag(rk_client_id id, rk_tag_ref* tag);
RK_API int rk_get_stat_tag(rk_client_id id, rk_tag_ref* tag);
RK_API int rk_get_msg_tag(rk_client_id id, rk_tag_ref* tag);
/* The environment of the slot of id, registered or not. rk_set_env stores
 * the three tags and at most 127 characters of the command line, always
 * NUL-terminated; the directories are not written back. -1 when no RTDB
 * is attached, the application or slot does not exist, or record is null. */
RK_API int rk_get_env(rk_client_id id, rk_env_record* record);
RK_API int rk_set_env(rk_client_id id, const rk_env_record* record);
/* The domains: their count, one by name (case ignored) or by index. */
RK_API int rk_get_nkusrs(void);
RK_API int rk_get_kusr(const char* kusr_name, rk_kusr* record);
RK_API int rk_nth_kusr(int n, rk_kusr* record);
/* The application instances: their count; one by domain and instance name
 * (case ignored; the record is cleared first, and its kusr is -1 when
 * there is none) or by index (the record stays cleared when there is none);
 * rk_set_kinst stores instance1 (which & 1) and instance2 (which & 2). */
RK_API int rk_get_nkinsts(void);
RK_API int rk_get_kinst(const char* kusr_name, const char* inst_name, rk_kinst_record* record);
RK_API int rk_nth_kinst(int n, rk_kinst_record* record);
RK_API int rk_set_kinst(int n, int which, const rk_kinst_record* record);
/* mode 0: copies the RTDB's configuration time (its creation time until
 * set) into record; mode 1: stores record as the configuration time. */
RK_API int rk_last_newconfig(int mode, rk_config_time* record);

/* ---- Application memory reset ---- */

/* Puts the tag data of the application of id back to its initial state:
 * values and attribute words of its own (per-application) types zeroed,
 * strings emptied (their buffers kept), mailboxes emptied with their
 * messages' memory given back, no owner and no limit; every change entry
 * of the application cleared (a shared digital tag keeps its value).
 * Other applications and shared values stay. Waiters are not woken. Each
 * type is reset under one hold of the database lock, taken for id's client
 * (as rk_lock would): without a live client there, only plain, digital and
 * string values are zeroed, and mailboxes and change entries are left
 * alone. 0, or -1 when
 * the application does not run (nothing is touched) or a segment of the
 * RTDB cannot be mapped in this process (its arrays are left alone). */
RK_API int rk_reset_app_mem(rk_client_id id);

#ifdef __cplusplus
}
#endif

#endif /* RK_H */
