/*
 * quorvil.h - the one shared header: every on-disk layout of the redo log,
 * the run context MINER, and the prototypes of every operation.
 *
 * All multi-byte integers in the log are little-endian; main() refuses a log
 * whose byte-order mark does not read as MAGIC on this host, so after that
 * check the layouts below are read as host integers.  A layout is never
 * laid over the log bytes in place: the bytes are copied into a local with
 * memcpy (read_layout), so alignment never matters and UBSan stays quiet.
 */
#ifndef QUORVIL_H
#define QUORVIL_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <sys/types.h>

#define MAGIC 0x7a7b7c7dU              /* byte-order mark of block 0 */
#define MAX_SCN 0xFFFFFFFFFFFFULL      /* largest 48-bit SCN */
#define STOP_MINING (-9)               /* record assembly: the dispatcher asked to stop */

#define WORK_SIZE (6 * 1024 * 1024)    /* the one allocation of the run */
#define RBUF_SIZE (4 * 1024 * 1024)    /* read buffer: one chunk of whole blocks */
#define RECB_SIZE (1024 * 1024)        /* record buffer */
#define SQLB_SIZE (1024 * 1024)        /* SQL buffer, also the staging area of the CSV */
#define HEADER_READ 8192               /* bytes read at offset 0 for blocks 0 and 1 */

/*
 * The most CSV a log can give: CSV_BOUND(n) bytes for a log file of n bytes,
 * the 76-byte header line and at most 146 bytes for every 5 bytes of log, a
 * ratio of 29.2 that large logs approach and never reach.
 *
 * Every byte of the file is decoded at most once, in one vector of one
 * record, and every line stands on bytes of its own: an insert on its own
 * vector (it takes only the transaction and object from its undo), a delete
 * or update on its own vector and an undo no other delete or update takes
 * (undo_taken), a row of a multi-row insert on its 3 or more stored bytes
 * (no other row is placed on them) and its 2-byte size entry.  The longest
 * line for the fewest bytes is such a row with no columns, with the longest
 * numbers:
 *   281474976710655,65535,65535,-2147483648,2147483648,4294967295,
 *   OBJ# 2147483648,INSERT,"insert into ""UNKNOWN"".""OBJ# -2147483648""
 *   () values ();"
 * 146 bytes with its newline, for 5 bytes of log.  Each column a row adds
 * takes 1 byte (plus its value) and adds at most 25 bytes (plus 2 per value
 * byte).  Every other writer gives less per byte of vector: an insert of
 * 255 empty columns 6,412 bytes for 620, a delete of 255 empty columns 7,423
 * for 700 with its undo, an update about 7.5 per byte of its listed columns
 * and 4.3 per byte of its supplemental ones, DDL 2 per byte of text (quotes
 * doubled), a START line 79 bytes for 60.
 */
#define CSV_BOUND_HEADER 76            /* the header line */
#define CSV_BOUND_LINE 146             /* the longest line ... */
#define CSV_BOUND_LOG 5                /* ... and the fewest log bytes it stands on */
#define CSV_BOUND(n) (CSV_BOUND_HEADER + (uint64_t)(n) * CSV_BOUND_LINE / CSV_BOUND_LOG)

#define BLOCK_HEADER_SIZE 16
#define RECORD_HEADER_SIZE 24
#define LONG_RECORD_HEADER_SIZE 68
#define VECTOR_HEADER_SIZE 24

#pragma pack(push, 1)

/*
 * REDO_BLOCK0: the first 32 bytes of the file (block 0).
 *   off width field   meaning
 *     0   20  bh      block 0's own header; its checksum is the word at 16
 *    20    4  bsz     size of block 0, and so the file offset of block 1
 *    24    4  fsz     blocks after block 0 the log was created with
 *    28    4  endian  byte-order mark, MAGIC in host order
 */
typedef struct __redo_block0 {
    uint8_t bh[20];
    uint32_t bsz;
    uint32_t fsz;
    uint32_t endian;
} REDO_BLOCK0;
static_assert(sizeof(REDO_BLOCK0) == 32);
static_assert(offsetof(REDO_BLOCK0, endian) == 28);
#define BLOCK0_CHECKSUM_OFFSET 16

/*
 * REDO_BLOCK1: 208 bytes at file offset blk0_sz (block 1, the redo header).
 *   off width field          meaning
 *     0   16  bh             block header: block number 1, the log's sequence, checksum
 *    20    4  csvn           compatibility version: a byte, two nibbles, two bytes
 *                            (0x0b200400 is 11.2.0.4.0)
 *    24    4  dbid           database id
 *    28    8  dbname         database name, NUL-padded
 *    40    4  fsz            blocks after block 0 the log was created with
 *    44    4  bsz            size of block 1 and of every later block
 *    92   64  desc           the database's own description of the log, NUL-padded
 *   156    4  nab            next available block: the first block not written in
 *                            this use of the log; 0xFFFFFFFF while it is written
 *   176    4  thread         redo thread number
 *   180    4  low_scn_base   low 32 bits of the log's lowest SCN
 *   184    2  low_scn_wrap   high 16 bits of the log's lowest SCN
 *   188    4  low_scn_time   time of the lowest SCN (see format_redo_time)
 *   192    4  next_scn_base  low 32 bits of the next SCN; all ones while written
 *   196    2  next_scn_wrap  high 16 bits of the next SCN
 *   200    4  next_scn_time  time of the next SCN
 *   every other field is not read
 */
typedef struct __redo_block1 {
    uint8_t bh[16];
    uint32_t svn;
    uint32_t csvn;
    uint32_t dbid;
    char dbname[8];
    uint32_t ctlseq;
    uint32_t fsz;
    uint32_t bsz;
    uint16_t fno;
    uint16_t ftp;
    uint32_t act_id;
    uint8_t rsv[36];
    char desc[64];
    uint32_t nab;
    uint32_t resetlog_count;
    uint32_t resetlog_scn_base;
    uint16_t resetlog_scn_wrap;
    uint16_t spare1;
    uint32_t hws;
    uint32_t thread;
    uint32_t low_scn_base;
    uint16_t low_scn_wrap;
    uint16_t spare2;
    uint32_t low_scn_time;
    uint32_t next_scn_base;
    uint16_t next_scn_wrap;
    uint16_t spare3;
    uint32_t next_scn_time;
    uint8_t eot;
    uint8_t dis;
    uint16_t spare4;
} REDO_BLOCK1;
static_assert(sizeof(REDO_BLOCK1) == 208);
static_assert(offsetof(REDO_BLOCK1, bsz) == 44);
static_assert(offsetof(REDO_BLOCK1, thread) == 176);
static_assert(offsetof(REDO_BLOCK1, low_scn_wrap) == 184);
static_assert(offsetof(REDO_BLOCK1, desc) == 92);
static_assert(offsetof(REDO_BLOCK1, nab) == 156);
static_assert(offsetof(REDO_BLOCK1, next_scn_time) == 200);
#define NAB_UNKNOWN 0xFFFFFFFFU

/*
 * REDO_BH: the 16-byte header of every block from block 1 on.
 *   off width field     meaning
 *     0    4  magic     not read
 *     4    4  rba_blk   the block's own number, its position in the file
 *     8    4  rba_sqn   sequence of the log the block was written for
 *    12    2  rba_byte  low 15 bits: offset of the first record that begins here
 *    14    2  chkval    checksum: the XOR of all 16-bit words of the block,
 *                       this one included, is 0; a stored 0 means not checked
 */
typedef struct __redo_block_header {
    uint8_t magic[4];
    uint32_t rba_blk;
    uint32_t rba_sqn;
    uint16_t rba_byte;
    uint16_t chkval;
} REDO_BH;
static_assert(sizeof(REDO_BH) == BLOCK_HEADER_SIZE);
static_assert(offsetof(REDO_BH, rba_byte) == 12);
static_assert(offsetof(REDO_BH, chkval) == 14);

/*
 * REDO_RH_MINOR: the short record header, 24 bytes.  With bit 0x04 of vld set
 * the record has the 68-byte long header instead, which carries the same four
 * fields read here at the same offsets.
 *   off width field     meaning
 *     0    4  rlen      total record length, header included
 *     4    1  vld       bit 0x04: long header
 *     6    2  scn_wrap  high 16 bits of the record's SCN
 *     8    4  scn_base  low 32 bits of the record's SCN
 */
typedef struct __redo_record_header_minor {
    uint32_t rlen;
    uint8_t vld;
    uint8_t spare1;
    uint16_t scn_wrap;
    uint32_t scn_base;
    uint16_t subscn;
    uint16_t spare2;
    uint64_t spare3;
} REDO_RH_MINOR;
static_assert(sizeof(REDO_RH_MINOR) == RECORD_HEADER_SIZE);
static_assert(offsetof(REDO_RH_MINOR, scn_base) == 8);
#define VLD_LONG_HEADER 0x04

/*
 * REDO_VH: the 24-byte header of every change vector.  The length vector
 * follows at offset 24: entry 0 is its own size in bytes, entries 1..n-1 the
 * lengths of fields 1..n-1, each field padded to a multiple of 4.
 *   off width field   meaning
 *     0    1  opl     layer of the opcode
 *     1    1  opc     code within the layer
 *     2    2  cls     class; transaction lines derive XIDUSN from it
 *   every other field is not read
 */
typedef struct __redo_vector_header {
    uint8_t opl;
    uint8_t opc;
    uint16_t cls;
    uint16_t afn;
    uint16_t objn_h;
    uint32_t rdba;
    uint32_t scn_base;
    uint16_t scn_wrap;
    uint16_t spare1;
    uint8_t seq;
    uint8_t typ;
    uint16_t objn_l;
} REDO_VH;
static_assert(sizeof(REDO_VH) == VECTOR_HEADER_SIZE);
static_assert(offsetof(REDO_VH, cls) == 2);

/*
 * KTUDH: field 1 of a 5.2 vector (transaction start), 32 bytes.
 *   off width field    meaning
 *     0    2  xid_slt  XIDSLT
 *     4    4  xid_sqn  XIDSQN; 0 means no line
 */
typedef struct __change_record_ktudh {
    uint16_t xid_slt;
    uint16_t spare1;
    uint32_t xid_sqn;
    uint32_t uba_rdba;
    uint16_t uba_sqn;
    uint8_t uba_rec;
    uint8_t spare2;
    uint16_t flg;
    uint16_t siz;
    uint8_t fbi;
    uint8_t spare3;
    uint16_t spare4;
    uint16_t pxid_usn;
    uint16_t pxid_slt;
    uint32_t pxid_sqn;
} KTUDH;
static_assert(sizeof(KTUDH) == 32);

/*
 * KTUCM: field 1 of a 5.4 vector (transaction end), 20 bytes.
 *   off width field    meaning
 *     0    2  xid_slt  XIDSLT
 *     4    4  xid_sqn  XIDSQN
 *    16    1  flg      bit 0x04: rolled back
 */
typedef struct __change_record_ktucm {
    uint16_t xid_slt;
    uint16_t spare1;
    uint32_t xid_sqn;
    uint8_t srt;
    uint8_t spare2[3];
    uint32_t sta;
    uint8_t flg;
    uint8_t spare3[3];
} KTUCM;
static_assert(sizeof(KTUCM) == 20);
static_assert(offsetof(KTUCM, flg) == 16);
#define KTUCM_ROLLBACK 0x04

/*
 * KTUDB: field 1 of a 5.1 undo vector, 20 bytes: the transaction of a row change.
 *   off width field    meaning
 *     8    2  xid_usn  XIDUSN of row lines
 *    10    2  xid_slt  XIDSLT of row lines
 *    12    4  xid_sqn  XIDSQN of row lines
 */
typedef struct __change_record_ktudb {
    uint16_t siz;
    uint16_t spc;
    uint16_t flg;
    uint16_t spare1;
    uint16_t xid_usn;
    uint16_t xid_slt;
    uint32_t xid_sqn;
    uint16_t seq;
    uint8_t rec;
    uint8_t spare2;
} KTUDB;
static_assert(sizeof(KTUDB) == 20);
static_assert(offsetof(KTUDB, xid_usn) == 8);

/*
 * KTUBU: field 2 of a 5.1 undo vector, 28 bytes: the object of a row change.
 *   off width field  meaning
 *     0    4  objn   object number: DATA_OBJ#, table label and SQL table name
 *     4    4  objd   data object number: DATA_OBJD#
 *    16    1  opl    layer the undo reverses; only 11 (table rows) is taken
 */
typedef struct __change_record_ktubu {
    uint32_t objn;
    uint32_t objd;
    uint32_t tsn;
    uint32_t spare1;
    uint8_t opl;
    uint8_t opc;
    uint8_t slt;
    uint8_t rci;
    uint8_t undo_typ;
    uint8_t undo_flg;
    uint16_t spare2;
    uint16_t flg2;
    uint16_t spare3;
} KTUBU;
static_assert(sizeof(KTUBU) == 28);
static_assert(offsetof(KTUBU, opl) == 16);

/*
 * KDO: the 16-byte head of every row operation of layer 11.
 *   off width field  meaning
 *    10    1  opc    row operation; with 0x20 masked off, 2 is an insert row piece
 */
typedef struct __change_record_kdo {
    uint32_t bdba;
    uint32_t hdba;
    uint16_t maxfr;
    uint8_t opc;
    uint8_t xtype;
    uint8_t itli;
    uint8_t ispac;
    uint16_t spare1;
} KDO;
static_assert(sizeof(KDO) == 16);
static_assert(offsetof(KDO, opc) == 10);
#define KDO_OPC_MASK 0xdf
#define KDO_OPC_IRP 2

/*
 * KDO_IRP: insert row piece; field 2 of an 11.2 vector and field 4 of the
 * undo of a delete.  45 fixed bytes, then a null bitmap of ceil(cc/8) bytes.
 *   off width field        meaning
 *     0   16  (KDO head)
 *    16    1  fb           flag byte; whole row piece when fb & 0x0c == 0x0c
 *    18    1  cc           column count, 0..255
 *    45    -  null_bitmap  bit (j & 7) of byte (j >> 3): column j is NULL
 */
typedef struct __change_record_kdo_irp {
    uint32_t bdba;
    uint32_t hdba;
    uint16_t maxfr;
    uint8_t opc;
    uint8_t xtype;
    uint8_t itli;
    uint8_t ispac;
    uint16_t spare1;
    uint8_t fb;
    uint8_t lb;
    uint8_t cc;
    uint8_t cki;
    uint32_t hrid_dba;
    uint16_t hrid_slt;
    uint16_t spare2;
    uint32_t nrid_dba;
    uint16_t nrid_slt;
    uint16_t spare3;
    uint32_t spare4;
    uint16_t size;
    uint16_t slot;
    uint8_t tabn;
    uint8_t null_bitmap[1];
} KDO_IRP;
static_assert(offsetof(KDO_IRP, fb) == 16);
static_assert(offsetof(KDO_IRP, cc) == 18);
static_assert(offsetof(KDO_IRP, null_bitmap) == 45);
#define KDO_IRP_FIXED offsetof(KDO_IRP, null_bitmap)
#define FB_WHOLE 0x0c

/*
 * KDO_URP: update row piece; field 2 of an 11.5 vector (new values) and
 * field 4 of its undo (old values).  26 fixed bytes, then ceil(nnew/8) bytes
 * of null bitmap, indexed by position in the column list.
 *   off width field        meaning
 *    23    1  nnew         number of listed columns
 *    26    -  null_bitmap  bit (k & 7) of byte (k >> 3): list item k is NULL
 */
typedef struct __change_record_kdo_urp {
    uint32_t bdba;
    uint32_t hdba;
    uint16_t maxfr;
    uint8_t opc;
    uint8_t xtype;
    uint8_t itli;
    uint8_t ispac;
    uint16_t spare1;
    uint8_t fb;
    uint8_t lb;
    uint8_t ckix;
    uint8_t tabn;
    uint16_t slot;
    uint8_t ncol;
    uint8_t nnew;
    uint16_t size;
    uint8_t null_bitmap[1];
} KDO_URP;
static_assert(offsetof(KDO_URP, nnew) == 23);
static_assert(offsetof(KDO_URP, null_bitmap) == 26);
#define KDO_URP_FIXED offsetof(KDO_URP, null_bitmap)

/*
 * SUPPLEMENT: the supplemental-log field after the old values of an update's
 * undo, 12 bytes.
 *   off width field  meaning
 *     2    2  ncol   number of supplemental columns
 */
typedef struct __supplemental_log {
    uint8_t spare1;
    uint8_t flg;
    uint16_t ncol;
    uint16_t spare2;
    uint16_t cid;
    uint16_t scid;
    uint16_t spare3;
} SUPPLEMENT;
static_assert(sizeof(SUPPLEMENT) == 12);
static_assert(offsetof(SUPPLEMENT, ncol) == 2);

/*
 * KDO_QMI: multi-row insert; field 2 of an 11.11 vector, 20 bytes.
 *   off width field  meaning
 *    18    2  nrow   number of stored rows in field 4
 */
typedef struct __change_record_kdo_qmi {
    uint32_t bdba;
    uint32_t hdba;
    uint16_t maxfr;
    uint8_t opc;
    uint8_t xtype;
    uint8_t itli;
    uint8_t ispac;
    uint16_t spare1;
    uint8_t tabn;
    uint8_t lock;
    uint16_t nrow;
} KDO_QMI;
static_assert(sizeof(KDO_QMI) == 20);
static_assert(offsetof(KDO_QMI, nrow) == 18);

/*
 * DDL_PART1: field 1 of a 24.1 vector, 12 bytes.
 *   off width field    meaning
 *     4    2  xid_usn  XIDUSN
 *     6    2  xid_slt  XIDSLT
 *     8    4  xid_sqn  XIDSQN
 */
typedef struct __ddl_part1 {
    uint32_t spare;
    uint16_t xid_usn;
    uint16_t xid_slt;
    uint32_t xid_sqn;
} DDL_PART1;
static_assert(sizeof(DDL_PART1) == 12);

/*
 * DDL_PART4: field 4 of a 24.1 vector, 8 bytes.
 *   off width field  meaning
 *     4    4  objn   DATA_OBJ#
 */
typedef struct __ddl_part4 {
    uint32_t spare;
    uint32_t objn;
} DDL_PART4;
static_assert(sizeof(DDL_PART4) == 8);

#pragma pack(pop)

/* Copies a layout out of the log; the caller has checked that len bytes exist. */
static inline void read_layout(void *dst, const uint8_t *src, size_t len)
{
    memcpy(dst, src, len);
}

static inline uint16_t read_u16(const uint8_t *p)
{
    uint16_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

static inline uint32_t read_u32(const uint8_t *p)
{
    uint32_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

/* Rounds a 16-bit length up to a multiple of 4.  Done in 32 bits on purpose:
 * 0xFFFD..0xFFFF become 0x10000 and hit the record bound instead of wrapping
 * to 0, which would measure the vector too short. */
static inline uint32_t align4(uint32_t x)
{
    return (x + 3) & ~3U;
}

/* Is column (or list item) j NULL in a bitmap of one bit per column? */
static inline bool null_bit(const uint8_t *bitmap, unsigned j)
{
    return (bitmap[j >> 3] >> (j & 7)) & 1;
}

/* Where the log's bytes come from when they cannot be read in place
 * (open_log.cpp): a compressed log, or one from a pipe. */
typedef struct __log_source LOG_SOURCE;
typedef enum { PACK_NONE, PACK_GZIP, PACK_ZSTD, PACK_XZ, PACK_BZIP2, PACKINGS } LOG_PACKING;
extern const char *const packing_name[PACKINGS];

/*
 * The run context: every piece of state of a run.  One instance exists, the
 * global miner in quorvil.cpp; every operation takes a pointer to it first.
 */
typedef struct __miner {
    int flag;                 /* unused, stays 0 */
    int fd;                   /* log file, -1 while none is open */
    LOG_SOURCE *src;          /* NULL: the log is read in place with pread */
    int rbuf_sz;              /* read buffer size */
    int recb_sz;              /* record buffer size */
    int sqlb_sz;              /* SQL buffer size */
    int blk0_sz;              /* size of block 0, offset of block 1 */
    int blk_sz;               /* size of every block from block 1 on */
    int thread;               /* redo thread, not used further */
    int curr_blk;             /* first block of the chunk in the read buffer */
    int rd_blks;              /* whole blocks in that chunk; 0 at end of file */
    uint64_t start_scn;       /* SCN window, inclusive */
    uint64_t end_scn;
    uint64_t first_scn;       /* lowest SCN of the log, from block 1 */
    FILE *cfp;                /* the CSV output */
    uint8_t *wrk;             /* the work area, sole owner of its memory */
    uint8_t *rbuf;            /* read buffer: wrk[0, rbuf_sz) */
    uint8_t *rec_buf;         /* record buffer: the next recb_sz bytes */
    uint8_t *sql_buf;         /* SQL buffer: the last sqlb_sz bytes */
    uint8_t *undo;            /* current 5.1 undo vector, inside the record being decoded */
    uint8_t *kdo;             /* field 4 of that vector */
    bool undo_taken;          /* a delete or update has taken that vector's old values */
    char logfile[256];
    char outfile[256];

    /* Beyond the run itself: where the output and damage reports stand. */
    uint32_t sql_pos;         /* bytes of CSV text staged in sql_buf */
    int out_errno;            /* first error met writing the CSV, 0 while none */
    uint64_t log_sz;          /* size of the log when opened (a block device's from the device) */
    uint32_t rd_tail;         /* bytes of a partial block after the whole blocks last read */
    int64_t rec_blk;          /* file block where the record being decoded began */
    uint64_t damaged;         /* damaged places met so far */
    int progress;             /* 1: show a progress line on the terminal; 2: one is shown */
    double prog_start;        /* when mining began, and when the line was last drawn */
    double prog_shown;

    /* What block 1 says of the log, and whether its checksums can be trusted. */
    uint32_t seq;             /* the log's sequence, from block 1's header */
    uint32_t nab;             /* next available block; NAB_UNKNOWN while written */
    uint32_t log_blks;        /* blocks after block 0 the log was created with */
    uint32_t compat;          /* compatibility version, as stored */
    int csum;                 /* 1: the log has checksums (block 0's or block 1's holds): every block is checked */
    int hdr_trusted;          /* 1: it has checksums and block 1 is intact: nab, log_blks and seq are used */
    int hdr_fault;            /* why read_header refused the file (HEADER_FAULT) */
    int blk0_cls;             /* BLOCK_CLASS of block 0 and of block 1, when csum */
    int blk1_cls;
    uint32_t blk1_got;        /* bytes of block 1 in the file when it is not whole; 0 when it is */
    uint32_t log_end;         /* first block past the log: nab when trusted and known, else 0 (end of file) */
    uint32_t rec_seq;         /* sequence in the header of the block where the record began */

    /* The walk's judgment of the blocks it enters (mine_redolog). */
    int64_t cls_blk;          /* block whose class is cls, -1 for none */
    int cls;
    int64_t reported_to;      /* blocks below this one have had their damage reported */
    int64_t unchk_first;      /* a run of unchecked blocks not yet reported, -1 for none */
    int64_t unchk_last;
    uint64_t pend_blocks;     /* stale or never written blocks after the last of the log's own, */
                              /* held back while the next available block is unknown */
    uint32_t npend;
    struct { uint32_t first, last; int cls; } pend[16];
    uint64_t decoded_damage;  /* of the damaged places, blocks decoded whose checksum fails */
} MINER;

extern MINER miner;

/* Splits the work area wrk into the read, record and SQL buffers, back to back. */
static inline void split_work_area(MINER *mnr)
{
    mnr->rbuf_sz = RBUF_SIZE;
    mnr->recb_sz = RECB_SIZE;
    mnr->sqlb_sz = SQLB_SIZE;
    mnr->rbuf = mnr->wrk;
    mnr->rec_buf = mnr->rbuf + mnr->rbuf_sz;
    mnr->sql_buf = mnr->rec_buf + mnr->recb_sz;
}

typedef int (*VECTOR_HANDLER)(MINER *mnr, REDO_VH *vhdr, uint64_t scn);

/*
 * A change vector seen through its length vector.  Built by open_vector for a
 * vector that the dispatcher has already measured against its record, so
 * every field the length vector names lies inside the vector.
 */
typedef struct __vector_view {
    const uint8_t *base;      /* the REDO_VH */
    uint32_t nent;            /* entries of the length vector; fields are 1..nent-1 */
    uint32_t len;             /* vector length */
} VECTOR;

/* One field of a vector: its number, offset in the vector, bytes and length. */
typedef struct __vector_field {
    uint32_t k;
    uint32_t off;
    const uint8_t *ptr;
    uint32_t len;
} FIELD;

/* quorvil.cpp */
int parse_arguments(int argc, char **argv);
uint64_t str_to_u64(const char *s);
void usage(const char *prgname);

/* claim_output.cpp: a file a run reads, identified as the output is checked against it */
typedef struct __input_id {
    const char *kind;         /* "log", "input", "dictionary" ... */
    const char *name;         /* as named on the command line */
    dev_t dev;
    ino_t ino;
    /* Set by identify_input: the same bytes reached another way. */
    char node;                /* 'b' or 'c' for a device node, else 0 */
    dev_t rdev;               /* the device a node stands for */
    bool backed;              /* a loop device: the file behind it */
    dev_t back_dev;
    ino_t back_ino;
} INPUT_ID;
void identify_input(int fd, INPUT_ID *id);
int held_descriptor(const char *name);
int claim_output(int fd, const char *name, const INPUT_ID *in, int nin, bool take_it);

/* copyright.cpp */
void show_copyright(void);

/* read_header.cpp: blocks 0 and 1 */
int read_header(MINER *mnr);
bool nab_known(const MINER *mnr);

/* Why read_header refused a file. */
typedef enum {
    HEADER_OK,
    HEADER_UNREADABLE,        /* a read failed */
    HEADER_NOT_A_LOG,         /* its bytes are not a log header quorvil can read */
    HEADER_CUT_SHORT          /* block 0 proves the log has checksums, and the file ends inside block 1 */
} HEADER_FAULT;

/* check_block.cpp: block checksums and the one judgment of a block */
typedef enum {
    BLOCK_INTACT,             /* its own number, the log's sequence, checksum holds */
    BLOCK_STALE,              /* its own number, an older sequence: an earlier use of the log */
    BLOCK_UNWRITTEN,          /* all zeros */
    BLOCK_MISPLACED,          /* header names another block number */
    BLOCK_BAD_CHECKSUM,       /* stored checksum not 0 and does not hold */
    BLOCK_UNCHECKED,          /* stored checksum 0 and the XOR does not hold, otherwise its own */
    BLOCK_LATER,              /* its own number, a later sequence: not this log's either */
    BLOCK_CLASSES
} BLOCK_CLASS;

/* What each class is called, in quorvil-info's report (name), its CSV
 * header (column) and quorvil's damage lines and the report's findings (what). */
typedef struct __block_class_text {
    const char *name;
    const char *column;
    const char *what;
} BLOCK_CLASS_TEXT;
extern const BLOCK_CLASS_TEXT block_class_text[BLOCK_CLASSES];

/* A block that is not the log's own: no record is taken from it. */
static inline bool foreign_block(int c)
{
    return c == BLOCK_UNWRITTEN || c == BLOCK_MISPLACED || c == BLOCK_STALE || c == BLOCK_LATER;
}

uint16_t block_checksum(const uint8_t *blk, uint32_t len);
bool block_is_zero(const uint8_t *blk, uint32_t len);
BLOCK_CLASS classify_block(const uint8_t *blk, uint32_t len, uint32_t blkno, uint32_t seq, bool seq_known);
BLOCK_CLASS classify_block0(const uint8_t *blk, uint32_t len);
bool log_has_checksums(const uint8_t *blk0, uint32_t len0, const uint8_t *blk1, uint32_t len1);
BLOCK_CLASS judge_block(const MINER *mnr, const uint8_t *blk, uint32_t blkno);

/* judge_block for the walk over every block: an intact block of a log with
 * checksums, the common case, is told here without a call beyond the
 * checksum itself; every other block goes through judge_block. */
static inline BLOCK_CLASS judge_block_fast(const MINER *mnr, const uint8_t *blk, uint32_t blkno)
{
    if (mnr->csum && mnr->blk_sz >= (int)sizeof(REDO_BLOCK1) && read_u16(blk + offsetof(REDO_BH, chkval)) != 0 &&
        read_u32(blk + offsetof(REDO_BH, rba_blk)) == blkno &&
        (!mnr->hdr_trusted || read_u32(blk + offsetof(REDO_BH, rba_sqn)) == mnr->seq) &&
        block_checksum(blk, (uint32_t)mnr->blk_sz) == 0)
        return BLOCK_INTACT;
    return judge_block(mnr, blk, blkno);
}

/* format_header.cpp: block 1's version and times as text */
void format_redo_time(uint32_t t, char *buf, size_t n);
void format_compat(uint32_t v, char *buf, size_t n);
bool compat_after_11_2(uint32_t v);

/* open_log.cpp: the log read in place, decompressed, or from a pipe */
int open_log(MINER *mnr);
ssize_t read_log(MINER *mnr, uint8_t *buf, size_t n, uint64_t off);
const char *read_error(const MINER *mnr);
bool read_failed(const MINER *mnr);
int log_packing(const MINER *mnr);
void close_log(MINER *mnr);

/* mine_redolog.cpp, read_blocks.cpp */
int mine_redolog(MINER *mnr);
int read_blocks(MINER *mnr);
int log_size(MINER *mnr, uint64_t *size);
void note_damage(MINER *mnr, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

/* show_progress.cpp */
void show_progress(MINER *mnr);
void clear_progress(MINER *mnr);

/* parse_record.cpp, skip_vector.cpp */
int parse_record(MINER *mnr, uint8_t *record);
int skip_vector(REDO_VH *vhdr);
int measure_vector(const uint8_t *vec, uint32_t left);
void open_vector(VECTOR *v, const REDO_VH *vhdr);
bool vector_field(const VECTOR *v, uint32_t k, FIELD *f);

/* Steps from field f->k to the next one; false past the last field. */
static inline bool next_field(const VECTOR *v, FIELD *f)
{
    if (f->k + 1 >= v->nent)
        return false;
    f->off += align4(f->len);
    f->k++;
    f->len = read_u16(v->base + VECTOR_HEADER_SIZE + 2 * f->k);
    f->ptr = v->base + f->off;
    return true;
}

/* the change vector handlers */
int begin_transaction(MINER *mnr, REDO_VH *vhdr, uint64_t scn);
int commit_transaction(MINER *mnr, REDO_VH *vhdr, uint64_t scn);
int parse_undo(MINER *mnr, REDO_VH *vhdr, uint64_t scn);
int parse_irp(MINER *mnr, REDO_VH *vhdr, uint64_t scn);
int parse_drp(MINER *mnr, REDO_VH *vhdr, uint64_t scn);
int parse_urp(MINER *mnr, REDO_VH *vhdr, uint64_t scn);
int parse_qmi(MINER *mnr, REDO_VH *vhdr, uint64_t scn);
int parse_ddl(MINER *mnr, REDO_VH *vhdr, uint64_t scn);

/* parse_undo.cpp: the transaction and object of the current undo vector */
typedef struct __undo_info {
    VECTOR v;                 /* the undo vector itself */
    KTUDB db;
    KTUBU bu;
    FIELD row;                /* field 4: the row operation the undo would apply */
} UNDO_INFO;
bool current_undo(MINER *mnr, UNDO_INFO *u);

/* print_hex.cpp: the CSV text, staged in sql_buf and written in large pieces */
/* "00" "01" ... "99": the two decimal digits of 0..99, made when compiled. */
typedef struct __decimal_pairs {
    char d[200];
    constexpr __decimal_pairs() : d()
    {
        for (int i = 0; i < 100; i++) {
            d[2 * i] = (char)('0' + i / 10);
            d[2 * i + 1] = (char)('0' + i % 10);
        }
    }
} DECIMAL_PAIRS;
extern const DECIMAL_PAIRS decimal_pairs;
int print_hex(char *buf, const uint8_t *hex, int len, int full_col);
void sql_put_slow(MINER *mnr, const char *s, uint32_t n);
void sql_str(MINER *mnr, const char *s);
void sql_u64(MINER *mnr, uint64_t v);
void sql_i64(MINER *mnr, int64_t v);
void sql_hex(MINER *mnr, const uint8_t *p, uint32_t len);
void sql_quoted(MINER *mnr, const uint8_t *p, uint32_t len);
void sql_flush(MINER *mnr);
void write_row_prefix(MINER *mnr, uint64_t scn, const UNDO_INFO *u, const char *op, bool unsigned_label);
void write_table(MINER *mnr, uint32_t objn);
void write_column(MINER *mnr, int64_t n);
void write_insert_head(MINER *mnr, uint32_t objn, unsigned cc);
void write_column_list(MINER *mnr, unsigned cc);
void write_condition(MINER *mnr, bool and_before, int64_t col, bool is_null, const uint8_t *p, uint32_t len);
void write_transaction_line(MINER *mnr, uint64_t scn, uint16_t cls, uint16_t slt, uint32_t sqn,
                            const char *op, const char *stmt);

/* Makes room for need bytes at the write position; need <= sqlb_sz. */
static inline void sql_reserve(MINER *mnr, uint32_t need)
{
    if (need > (uint32_t)mnr->sqlb_sz - mnr->sql_pos)
        sql_flush(mnr);
}

static inline void sql_put(MINER *mnr, const char *s, uint32_t n)
{
    if (n <= (uint32_t)mnr->sqlb_sz - mnr->sql_pos) {
        memcpy(mnr->sql_buf + mnr->sql_pos, s, n);
        mnr->sql_pos += n;
    } else {
        sql_put_slow(mnr, s, n);
    }
}

static inline void sql_char(MINER *mnr, char c)
{
    sql_reserve(mnr, 1);
    mnr->sql_buf[mnr->sql_pos++] = (uint8_t)c;
}

/* Appends a string literal without measuring it at run time. */
#define SQL_LIT(mnr, lit) sql_put((mnr), (lit), (uint32_t)(sizeof(lit) - 1))

#endif
