/*
 * write_csv.cpp - write_csv_header and write_csv_row: the inventory of the
 * logs as CSV on standard output, one line per log after a header line of
 * snake_case names, so that SQLite's .import --csv takes it as it is.
 *
 * A field holding a comma, a double quote, a CR or an LF is quoted, its
 * double quotes doubled (RFC 4180).  A value that is not known (next SCN of
 * an open log, next available block not known, anything of a file that is
 * not a log) is an empty field.
 */
#include "quorvil_info.h"

/* Columns between file_size and verdict. */
#define CSV_UNKNOWN_COLUMNS (18 + BLOCK_CLASSES)

static void csv_text(const char *s, bool last)
{
    if (strpbrk(s, ",\"\r\n") == NULL) {
        fputs(s, stdout);
    } else {
        putchar('"');
        for (; *s; s++) {
            if (*s == '"')
                putchar('"');
            putchar(*s);
        }
        putchar('"');
    }
    putchar(last ? '\n' : ',');
}

static void csv_u64(uint64_t v)
{
    printf("%llu,", (unsigned long long)v);
}

void write_csv_header(void)
{
    fputs("file,file_size,block0_size,block_size,whole_blocks,declared_blocks,cut_short,"
          "db_name,db_id,compat,thread,sequence,description,first_scn,first_time,next_scn,next_time,"
          "next_block,block0_checksum,",
          stdout);
    for (int c = 0; c < BLOCK_CLASSES; c++)
        printf("%s,", block_class_text[c].column);
    fputs("findings,verdict\n", stdout);
}

void write_csv_row(const LOG_INFO *li)
{
    char text[4 * 64 + 1];

    csv_text(li->shown, false);
    if (li->size_known)
        csv_u64(li->file_size);
    else
        putchar(',');
    if (li->state != LOG_READ) {
        // every column from block0_size to findings is unknown
        for (int i = 0; i < CSV_UNKNOWN_COLUMNS; i++)
            putchar(',');
        csv_text(li->verdict, true);
        return;
    }
    csv_u64(li->blk0_sz);
    csv_u64(li->blk_sz);
    csv_u64(li->whole_blocks);
    csv_u64(li->declared);
    csv_u64(li->cut_short);
    safe_text(li->dbname, text, sizeof li->dbname - 1);
    csv_text(text, false);
    csv_u64(li->dbid);
    format_compat(li->compat, text, sizeof text);
    csv_text(text, false);
    csv_u64(li->thread);
    csv_u64(li->seq);
    safe_text(li->desc, text, sizeof li->desc - 1);
    csv_text(text, false);
    csv_u64(li->first_scn);
    format_redo_time(li->first_time, text, sizeof text);
    csv_text(text, false);
    if (li->open) {
        fputs(",,", stdout);
    } else {
        csv_u64(li->next_scn);
        format_redo_time(li->next_time, text, sizeof text);
        csv_text(text, false);
    }
    if (li->nab_known)
        csv_u64(li->nab);
    else
        putchar(',');
    csv_text(li->blk0 == BLOCK_INTACT ? "holds" : li->blk0 == BLOCK_BAD_CHECKSUM ? "mismatch" : "unchecked", false);
    for (int c = 0; c < BLOCK_CLASSES; c++)
        csv_u64(li->tally[c].count);
    csv_u64(li->findings);
    csv_text(li->verdict, true);
}
