/*
 * show_progress.cpp - show_progress and clear_progress: one line on a
 * terminal telling how far a long run has come.
 *
 * Only used when standard error is a terminal and the log is large (main
 * decides); the line is rewritten in place at most a few times a second and
 * erased before any other message, so nothing else on standard error changes.
 */
#include "quorvil.h"

#include <ctime>

static double now_seconds(void)
{
    struct timespec ts;

    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + ts.tv_nsec / 1e9;
}

void show_progress(MINER *mnr)
{
    double t = now_seconds();
    uint64_t done;

    if (mnr->prog_start == 0) {
        mnr->prog_start = t;
        return;
    }
    if (t - mnr->prog_shown < 0.25)
        return;
    mnr->prog_shown = t;
    done = (uint64_t)mnr->blk0_sz + (uint64_t)mnr->blk_sz * (uint64_t)(mnr->curr_blk - 1);
    // a log of no known size (compressed, or from a pipe): how much is read
    if (mnr->log_sz == 0) {
        fprintf(stderr, "\r%.0f MB of %s read, %.0f MB/s", done / 1e6, mnr->logfile, done / 1e6 / (t - mnr->prog_start));
        mnr->progress = 2;
        return;
    }
    if (done > mnr->log_sz)
        done = mnr->log_sz;
    fprintf(stderr, "\r%3d%% of %s, %.0f MB/s", (int)(done * 100 / mnr->log_sz),
            mnr->logfile, done / 1e6 / (t - mnr->prog_start));
    mnr->progress = 2;
}

void clear_progress(MINER *mnr)
{
    if (mnr->progress == 2) {
        fputs("\r\033[K", stderr);
        mnr->progress = 1;
    }
}
