/*
 * read_csv.cpp - read_csv_record: the next record of a CSV file as quorvil
 * writes it: fields split at commas, a field in double quotes may hold
 * commas, line ends and doubled quotes; a record ends at a line end outside
 * quotes.  Returns 1 for a record, 0 at the end of the file, -1 on a read
 * error or a file that ends inside quotes, having said so.
 */
#include "quorvil_folder.h"

#include <cerrno>

int read_csv_record(CSV_READER *r, CSV_RECORD *rec)
{
    bool quoted = false, any = false;
    std::string cur;
    int c;

    rec->field.clear();
    rec->raw.clear();
    while ((c = getc(r->f)) != EOF) {
        any = true;
        if (quoted) {
            rec->raw.push_back((char)c);
            if (c != '"') {
                cur.push_back((char)c);
                continue;
            }
            int d = getc(r->f);
            if (d == '"') {
                rec->raw.push_back('"');
                cur.push_back('"');
                continue;
            }
            quoted = false;
            if (d == EOF)
                break;
            ungetc(d, r->f);
            continue;
        }
        if (c == '\n')
            break;
        rec->raw.push_back((char)c);
        if (c == '"')
            quoted = true;
        else if (c == ',') {
            rec->field.push_back(cur);
            cur.clear();
        } else
            cur.push_back((char)c);
    }
    if (ferror(r->f)) {
        fprintf(stderr, "read %s: %s\n", r->name, strerror(errno ? errno : EIO));
        return -1;
    }
    if (quoted) {
        // the file ends inside a quoted field
        fprintf(stderr, "read %s: the file ends inside a quoted field\n", r->name);
        return -1;
    }
    if (!any)
        return 0;
    rec->field.push_back(cur);
    return 1;
}
