/*
 * inspect_log.cpp - inspect_log: opens one log and takes what blocks 0 and 1
 * say of it.
 *
 * read_header does the checks quorvil does (byte-order mark, block sizes,
 * a header long enough) with quorvil's own messages; what quorvil does not
 * keep (database name and id, description, times, next SCN) is then read
 * from the same bytes through REDO_BLOCK1; blocks 0 and 1 are judged as
 * read_header judged them.  A file read_header refuses is not a log, or
 * unreadable, or cut short inside block 1, as read_header says; one that
 * cannot be opened is unreadable.  Leaves the file open in mnr->fd.
 */
#include "quorvil_info.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

/* Text from the header, up to its first NUL, with every byte that is not
 * printable ASCII (and the backslash) written as \xNN, so that no byte of
 * the file reaches a terminal as it is.  dst must hold 4 * n + 1 bytes. */
void safe_text(const char *src, char *dst, size_t n)
{
    static const char digits[] = "0123456789abcdef";

    for (size_t i = 0; i < n && src[i] != '\0'; i++) {
        uint8_t c = (uint8_t)src[i];

        if (c >= 0x20 && c < 0x7f && c != '\\') {
            *dst++ = (char)c;
        } else {
            *dst++ = '\\';
            *dst++ = 'x';
            *dst++ = digits[c >> 4];
            *dst++ = digits[c & 15];
        }
    }
    *dst = '\0';
}

/* A file name as the report prints it: control characters (and the
 * backslash) as \xNN, every other byte, UTF-8 included, as it is, so that
 * no name can move the cursor or clear a terminal.  Never NULL. */
char *escape_name(const char *name)
{
    static const char digits[] = "0123456789abcdef";
    size_t n = strlen(name);
    char *out = (char *)malloc(4 * n + 1), *d = out;

    if (out == NULL)
        return strdup("?");
    for (; *name; name++) {
        uint8_t c = (uint8_t)*name;

        if (c < 0x20 || c == 0x7f || c == '\\') {
            *d++ = '\\';
            *d++ = 'x';
            *d++ = digits[c >> 4];
            *d++ = digits[c & 15];
        } else {
            *d++ = (char)c;
        }
    }
    *d = '\0';
    return out;
}

int inspect_log(MINER *mnr, LOG_INFO *li)
{
    uint8_t hdr[HEADER_READ];
    REDO_BLOCK1 b1;
    struct stat st;
    ssize_t got;

    strncpy(mnr->logfile, li->file, sizeof mnr->logfile);
    mnr->logfile[sizeof mnr->logfile - 1] = '\0';
    // a FIFO, socket or character device met among the files is never
    // opened: reading one could wait for ever.  Standard input is read when
    // it is named.
    if (strcmp(li->file, "-") != 0 && strcmp(li->file, "/dev/stdin") != 0 && stat(li->file, &st) == 0 &&
        (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode) || S_ISCHR(st.st_mode))) {
        fprintf(stderr, "read %s: not a regular file\n", li->file);
        li->state = LOG_NOT_REGULAR;
        return -1;
    }
    if (open_log(mnr) < 0) {
        li->state = LOG_UNREADABLE;
        return -1;
    }
    if (fstat(mnr->fd, &st) == 0) {
        // a folder opens but cannot be read: say so before read_header tries
        if (S_ISDIR(st.st_mode)) {
            fprintf(stderr, "read %s: %s\n", li->file, strerror(EISDIR));
            li->state = LOG_UNREADABLE;
            return -1;
        }
        // a block device measures itself; a file by its size.  A compressed
        // file's size is not the log's, and a pipe has none.
        li->size_known = log_size(mnr, &li->file_size) == 0 && !S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode);
        mnr->log_sz = li->size_known && mnr->src == NULL ? li->file_size : 0;
        li->packing = log_packing(mnr);
    }
    if (read_header(mnr) < 0) {
        li->state = mnr->hdr_fault == HEADER_UNREADABLE  ? LOG_UNREADABLE
                    : mnr->hdr_fault == HEADER_CUT_SHORT ? LOG_HEADER_CUT
                                                         : LOG_NOT_A_LOG;
        return -1;
    }

    // read_header has checked these bytes; read them again for the fields it
    // does not keep, so that nothing depends on what it left in the buffer
    got = read_log(mnr, hdr, sizeof hdr, 0);
    if (got < 0) {
        fprintf(stderr, "read %s: %s\n", li->file, read_error(mnr));
        li->state = LOG_UNREADABLE;
        return -1;
    }
    // the file shrank since read_header read it
    if (got < mnr->blk0_sz + (ssize_t)sizeof b1) {
        fprintf(stderr, "read %s: header needs %d bytes, got %d\n", li->file,
                mnr->blk0_sz + (int)sizeof b1, (int)got);
        li->state = LOG_UNREADABLE;
        return -1;
    }
    read_layout(&b1, hdr + mnr->blk0_sz, sizeof b1);

    li->state = LOG_READ;
    li->blk0_sz = (uint32_t)mnr->blk0_sz;
    li->blk_sz = (uint32_t)mnr->blk_sz;
    li->declared = mnr->log_blks;
    memcpy(li->dbname, b1.dbname, sizeof b1.dbname);
    li->dbname[sizeof b1.dbname] = '\0';
    li->dbid = b1.dbid;
    li->compat = mnr->compat;
    li->thread = b1.thread;
    li->seq = mnr->seq;
    memcpy(li->desc, b1.desc, sizeof b1.desc);
    li->desc[sizeof b1.desc] = '\0';
    li->first_scn = mnr->first_scn;
    li->first_time = b1.low_scn_time;
    li->open = b1.next_scn_base == 0xFFFFFFFFU && b1.next_scn_wrap == 0xFFFF;
    li->next_scn = ((uint64_t)b1.next_scn_wrap << 32) + b1.next_scn_base;
    li->next_time = b1.next_scn_time;
    li->nab = mnr->nab;
    li->checksums = mnr->csum;
    li->trusted = mnr->hdr_trusted;
    li->nab_known = mnr->hdr_trusted && nab_known(mnr);
    li->blk0 = (BLOCK_CLASS)mnr->blk0_cls;
    li->blk1 = (BLOCK_CLASS)mnr->blk1_cls;
    li->blk1_got = mnr->blk1_got;
    return 0;
}
