/*
 * print_log.cpp - print_log: one line on standard output saying what
 * became of a file: its thread and sequence, name, quorvil-info's verdict
 * (with its findings), and whether it was loaded, loaded before or left
 * out.  When quorvil did not end cleanly, its exit status and its last
 * message follow.  Names read back from the database are printed with
 * control characters escaped, as quorvil-info prints file names.
 */
#include "quorvil_folder.h"

/* The last line of quorvil's messages before its closing line. */
static std::string last_message(const std::string &m)
{
    std::string last;
    size_t at = 0;

    while (at < m.size()) {
        size_t nl = m.find('\n', at);
        if (nl == std::string::npos)
            nl = m.size();
        std::string line = m.substr(at, nl - at);
        if (!line.empty() && line != "quorvil end." && line != "quorvil exit with error.")
            last = line;
        at = nl + 1;
    }
    return last;
}

void print_log(const FOLDER_LOG *fl)
{
    const LOG_INFO *li = &fl->li;
    char found[32] = "";

    if (fl->state == FL_LEFT_OUT || fl->state == FL_SAME_FILE) {
        printf("  %s: %s: %s\n", li->shown, li->verdict,
               fl->state == FL_SAME_FILE ? "read once" : "left out");
        return;
    }
    if (li->findings > 0)
        snprintf(found, sizeof found, " (%u finding%s)", li->findings, li->findings == 1 ? "" : "s");
    printf("  thread %u sequence %u  %s  %s%s: ", li->thread, li->seq, li->shown, li->verdict, found);
    switch (fl->state) {
    case FL_LOADED_BEFORE:
        if (fl->same_as == li->file) {
            printf("already loaded\n");
        } else {
            char *as = escape_name(fl->same_as.c_str());
            printf("already loaded, as %s\n", as ? as : "?");
            free(as);
        }
        return;
    case FL_TO_MINE:
        printf("not mined\n");
        return;
    case FL_LOADED:
        printf("loaded, %llu line%s", (unsigned long long)fl->lines, fl->lines == 1 ? "" : "s");
        break;
    default:
        printf("not loaded");
        break;
    }
    if (fl->signal != 0)
        printf("; quorvil killed by signal %d", fl->signal);
    else if (fl->status != 0) {
        std::string m = last_message(fl->messages);
        printf("; quorvil exit status %d%s%s", fl->status, m.empty() ? "" : ": ", m.c_str());
    }
    if (!fl->other_bytes.empty()) {
        char *other = escape_name(fl->other_bytes.c_str());
        printf("; this sequence was loaded before from %s, which has other bytes", other ? other : "?");
        free(other);
    }
    printf("\n");
}
