/*
 * check_set.cpp - check_set: how the logs given fit together.
 *
 * Orders the logs by database, thread and sequence and prints them as one
 * table (report only, when more than one file was given), then, within
 * each thread of each database: sequence numbers missing between two logs,
 * two files of one sequence (compared byte for byte: multiplexed members
 * are identical), a log whose next SCN is not the first SCN of the log of
 * the following sequence, and a log still open (its next SCN not known)
 * that a later sequence follows: what it held after its last block was
 * read is in no file.  Logs of two databases are two sets; a file named
 * twice was read once and is no part of the set.
 * Returns the number of findings; *failed is set when a file to compare
 * could not be read.
 */
#include "quorvil_info.h"

#include <algorithm>
#include <vector>

/* Where the findings go: after the table on standard output, or on
 * standard error when standard output carries the CSV. */
static FILE *finding_out(bool csv)
{
    return csv ? stderr : stdout;
}

static void print_table(const LOG_INFO *logs, int n, const std::vector<int> &order)
{
    printf("logs by thread and sequence:\n");
    printf("  %6s %10s  %-29s  %-41s  %-10s  %s\n", "thread", "sequence", "SCN range", "time range", "verdict",
           "file");
    for (int i : order) {
        const LOG_INFO *li = &logs[i];
        char scn[48], t1[32], t2[32], times[80];

        format_redo_time(li->first_time, t1, sizeof t1);
        if (li->open) {
            snprintf(scn, sizeof scn, "%llu-open", (unsigned long long)li->first_scn);
            snprintf(times, sizeof times, "%s - open", t1);
        } else {
            format_redo_time(li->next_time, t2, sizeof t2);
            snprintf(scn, sizeof scn, "%llu-%llu", (unsigned long long)li->first_scn,
                     (unsigned long long)li->next_scn);
            snprintf(times, sizeof times, "%s - %s", t1, t2);
        }
        printf("  %6u %10u  %-29s  %-41s  %-10s  %s\n", li->thread, li->seq, scn, times, li->verdict, li->shown);
    }
    // files that are not logs have no place in the order: listed last
    for (int i = 0; i < n; i++)
        if (logs[i].state != LOG_READ)
            printf("  %6s %10s  %-29s  %-41s  %-10s  %s\n", "", "", "", "", logs[i].verdict, logs[i].shown);
    printf("\n");
}

static bool several_dbs;

/* Whose sequences a finding is about: the thread, and the database when the
 * logs given are of more than one. */
static const char *set_of(const LOG_INFO *li, char *buf, size_t n)
{
    char name[4 * 8 + 1];

    if (!several_dbs) {
        snprintf(buf, n, "thread %u", li->thread);
    } else {
        safe_text(li->dbname, name, sizeof li->dbname - 1);
        snprintf(buf, n, "database %s (id %u), thread %u", name, li->dbid, li->thread);
    }
    return buf;
}

/* Two files of one thread and sequence: copies, or not. */
static void report_duplicate(const LOG_INFO *a, const LOG_INFO *b, bool csv, bool *failed)
{
    FILE *out = finding_out(csv);
    const char *ind = csv ? "" : "  ";
    uint64_t at = 0;
    int r = compare_files(a->file, b->file, &at);
    char who[128];

    if (r < 0) {
        *failed = true;
        fprintf(out, "%s%s: sequence %u is in both %s and %s, which could not be compared\n", ind,
                set_of(a, who, sizeof who), a->seq, a->shown, b->shown);
    } else if (r == 0) {
        fprintf(out, "%s%s: sequence %u is in both %s and %s, byte for byte identical (multiplexed copies)\n",
                ind, set_of(a, who, sizeof who), a->seq, a->shown, b->shown);
    } else {
        fprintf(out, "%s%s: sequence %u is in both %s and %s, which differ from byte %llu on\n", ind,
                set_of(a, who, sizeof who), a->seq, a->shown, b->shown, (unsigned long long)at);
    }
}

unsigned check_set(LOG_INFO *logs, int n, bool csv, bool *failed)
{
    std::vector<int> order;
    FILE *out = finding_out(csv);
    const char *ind = csv ? "" : "  ";
    unsigned found = 0;
    char who[128];

    several_dbs = false;
    for (int i = 0; i < n; i++)
        if (logs[i].state == LOG_READ) {
            order.push_back(i);
            several_dbs = several_dbs || logs[i].dbid != logs[order[0]].dbid;
        }
    std::stable_sort(order.begin(), order.end(), [logs](int a, int b) {
        if (logs[a].dbid != logs[b].dbid)
            return logs[a].dbid < logs[b].dbid;
        if (logs[a].thread != logs[b].thread)
            return logs[a].thread < logs[b].thread;
        return logs[a].seq < logs[b].seq;
    });
    if (!csv && n > 1)
        print_table(logs, n, order);

    if (!csv && n > 1)
        printf("set:\n");
    // first: the first file of the current sequence, the one later copies
    // are compared with and whose next SCN the next sequence must begin at
    const LOG_INFO *first = NULL;
    for (int i : order) {
        const LOG_INFO *li = &logs[i];

        if (first == NULL || first->dbid != li->dbid || first->thread != li->thread) {
            first = li;
            continue;
        }
        if (li->seq == first->seq) {
            report_duplicate(first, li, csv, failed);
            found++;
            continue;
        }
        if (first->open) {
            fprintf(out, "%s%s: sequence %u is still open (its next SCN is not known) but sequence %u "
                    "follows from SCN %llu: what it held after it was copied is in no file\n", ind, set_of(li, who, sizeof who),
                    first->seq, li->seq, (unsigned long long)li->first_scn);
            found++;
        }
        if (li->seq - first->seq == 2) {
            fprintf(out, "%s%s: sequence %u missing\n", ind, set_of(li, who, sizeof who), first->seq + 1);
            found++;
        } else if (li->seq - first->seq > 2) {
            fprintf(out, "%s%s: sequences %u-%u missing\n", ind, set_of(li, who, sizeof who), first->seq + 1, li->seq - 1);
            found++;
        } else if (!first->open && first->next_scn != li->first_scn) {
            fprintf(out, "%s%s: sequence %u ends at SCN %llu but sequence %u begins at SCN %llu\n", ind,
                    set_of(li, who, sizeof who), first->seq, (unsigned long long)first->next_scn, li->seq,
                    (unsigned long long)li->first_scn);
            found++;
        }
        first = li;
    }
    if (!csv && n > 1 && found == 0)
        printf("  no missing sequence, no duplicate, no SCN discontinuity\n");
    return found;
}
