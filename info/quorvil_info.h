/*
 * quorvil_info.h - what quorvil-info learns of one log file, and the
 * prototypes of its operations.
 *
 * The layouts of the log are those of source/quorvil.h; the header is read
 * by read_header and the blocks by read_blocks, as quorvil reads them.  What
 * is kept per log is bounded whatever the size of the file: counts, and the
 * first few block ranges of each class.
 */
#ifndef QUORVIL_INFO_H
#define QUORVIL_INFO_H

#include "quorvil.h"

#define RANGES_KEPT 10               /* block ranges kept per class for the report */
#define COMPARE_BUF_SIZE (64 * 1024) /* each of the two buffers comparing two files */

typedef struct __block_range {
    uint32_t first;
    uint32_t last;
} BLOCK_RANGE;

/* The blocks of one class: how many, and where the first of them lie. */
typedef struct __class_tally {
    uint64_t count;           /* blocks of the class */
    uint64_t before_nab;      /* of those, blocks before the next available block */
    uint64_t at_last_own;     /* count when the last block of the log's sequence was met */
    uint64_t found;           /* blocks of the class that are a finding (judge_log) */
    uint32_t limit;           /* found blocks lie in 1..limit (judge_log) */
    uint32_t nranges;         /* ranges kept in r */
    BLOCK_RANGE r[RANGES_KEPT];
} CLASS_TALLY;

/* What became of a file. */
typedef enum {
    LOG_READ,                 /* header and blocks read */
    LOG_UNREADABLE,           /* cannot be opened or read */
    LOG_NOT_A_LOG,            /* read_header refused it */
    LOG_HEADER_CUT,           /* block 0 proves checksums, and the file ends before block 1's header */
    LOG_SAME_FILE,            /* the same file as one named before it: not read again */
    LOG_NOT_REGULAR           /* a FIFO, socket or character device among the files: not opened */
} LOG_STATE;

typedef struct __log_info {
    const char *file;         /* as named on the command line */
    char *shown;              /* the name as printed: control characters escaped */
    LOG_STATE state;
    const char *same_name;    /* LOG_SAME_FILE: the shown name of the log first named so */
    uint64_t dev, ino;        /* to tell one file named twice */
    bool size_known;
    uint64_t file_size;       /* of the file as it lies: compressed when packed */
    int packing;              /* LOG_PACKING: how the file is compressed */

    /* from blocks 0 and 1 */
    uint32_t blk0_sz;
    uint32_t blk_sz;
    uint32_t declared;        /* blocks after block 0 the log was created with */
    char dbname[9];           /* up to the first NUL */
    uint32_t dbid;
    uint32_t compat;
    uint32_t thread;
    uint32_t seq;
    char desc[65];            /* up to the first NUL */
    uint64_t first_scn;
    uint32_t first_time;
    bool open;                /* next SCN all ones: the log is still being written */
    uint64_t next_scn;
    uint32_t next_time;
    uint32_t nab;
    bool nab_known;
    bool checksums;           /* the log has checksums: every block is judged */
    bool trusted;             /* ... and block 1 is intact: nab, declared blocks and sequence are used */
    BLOCK_CLASS blk0;         /* BLOCK_INTACT, BLOCK_BAD_CHECKSUM or BLOCK_UNCHECKED */
    BLOCK_CLASS blk1;         /* block 1's class, when the file holds it whole */
    uint32_t blk1_got;        /* bytes of block 1 when the file ends inside it, else 0 */

    /* from the scan */
    uint64_t whole_blocks;    /* whole blocks after block 0 */
    bool scan_stopped;        /* the file holds more blocks than a block number reaches */
    uint32_t last_own;        /* last block whose header names the log's sequence; 0: none */
    CLASS_TALLY tally[BLOCK_CLASSES];

    /* from judge_log */
    bool cut_short;           /* blocks of the log are missing from the file */
    uint64_t missing;         /* blocks before the next available block not in the file */
    unsigned findings;        /* lines of findings */
    const char *verdict;
} LOG_INFO;

/* examine_log.cpp */
void examine_log(MINER *mnr, LOG_INFO *li, bool tty);
bool named_before(LOG_INFO *logs, int i);

/* inspect_log.cpp */
int inspect_log(MINER *mnr, LOG_INFO *li);
void safe_text(const char *src, char *dst, size_t n);
char *escape_name(const char *name);

/* scan_blocks.cpp */
int scan_blocks(MINER *mnr, LOG_INFO *li);

/* judge_log.cpp */
void judge_log(LOG_INFO *li);

/* print_report.cpp */
void print_report(const LOG_INFO *li);
void format_ranges(const CLASS_TALLY *t, uint32_t limit, uint64_t count, char *buf, size_t n);

/* write_csv.cpp */
void write_csv_header(void);
void write_csv_row(const LOG_INFO *li);

/* check_set.cpp */
unsigned check_set(LOG_INFO *logs, int n, bool csv, bool *failed);

/* compare_files.cpp */
int compare_files(const char *a, const char *b, uint64_t *diff_at);

#endif
