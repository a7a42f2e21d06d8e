/*
 * examine_log.cpp - examine_log: one file read as quorvil-info reads it
 * (header, blocks, findings counted), and named_before: whether a file was
 * named before under another path.  Shared by quorvil-info and
 * quorvil-folder, so both judge a file the same way.
 */
#include "quorvil_info.h"

#include <sys/stat.h>

/* Logs from this size on show a progress line on a terminal, as in quorvil. */
#define PROGRESS_MIN_SIZE (8 * 1024 * 1024)

/* Reads one log into li: header, blocks, findings.  Leaves no file open. */
void examine_log(MINER *mnr, LOG_INFO *li, bool tty)
{
    uint8_t *rbuf = mnr->rbuf;

    memset(mnr, 0, sizeof *mnr);
    mnr->rbuf = rbuf;
    mnr->rbuf_sz = RBUF_SIZE;
    mnr->fd = -1;
    if (inspect_log(mnr, li) == 0) {
        mnr->progress = tty && mnr->log_sz >= PROGRESS_MIN_SIZE;
        if (scan_blocks(mnr, li) < 0)
            li->state = LOG_UNREADABLE;
    }
    close_log(mnr);
}

/*
 * Is log i a file named before it, by the same path, another path or a hard
 * link?  Then it is read once: same device and inode as a log already read.
 */
bool named_before(LOG_INFO *logs, int i)
{
    LOG_INFO *li = &logs[i];
    struct stat st;

    if (stat(li->file, &st) != 0)
        return false;
    li->dev = st.st_dev;
    li->ino = st.st_ino;
    for (int k = 0; k < i; k++)
        if (logs[k].state != LOG_SAME_FILE && logs[k].dev == li->dev && logs[k].ino == li->ino &&
            (logs[k].dev | logs[k].ino) != 0) {
            li->state = LOG_SAME_FILE;
            li->same_name = logs[k].shown;
            return true;
        }
    return false;
}
