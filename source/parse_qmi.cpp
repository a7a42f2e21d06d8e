/*
 * parse_qmi.cpp - parse_qmi: opcode 11.11, multi-row insert.
 *
 * Field 2 is a KDO_QMI (nrow), field 3 the size of each stored row, field 4
 * the stored rows back to back.  A stored row is two header bytes, cc, and
 * cc columns, each a marker: 0xFF NULL, 0xFE a 16-bit length then the bytes,
 * 0x00-0xFD the length itself then the bytes.  One INSERT line per row, all
 * with the transaction and object of the current undo vector.  A row whose
 * columns run past field 4, or that is longer than its entry of the size
 * array, is reported and left out; the rows after it are still placed by the
 * size array.  Rows so never share bytes: each line written stands on at
 * least its 3 stored bytes and 2 bytes of size array.
 */
#include "quorvil.h"

#define MARKER_NULL 0xFF
#define MARKER_LONG 0xFE

/*
 * The length of a stored row: its two header bytes and column count, then
 * its cc columns from row[3] on, markers included.  -1 when the columns run
 * past avail, the bytes of the rows field from the row's start on.
 */
static int64_t measure_row(const uint8_t *row, uint32_t avail, unsigned cc)
{
    uint32_t pos = 3;

    for (unsigned i = 0; i < cc; i++) {
        uint32_t len;

        if (pos >= avail)
            return -1;
        if (row[pos] == MARKER_NULL) {
            pos += 1;
            continue;
        }
        if (row[pos] == MARKER_LONG) {
            if (avail - pos < 3)
                return -1;
            len = read_u16(row + pos + 1);
            pos += 3;
        } else {
            len = row[pos];
            pos += 1;
        }
        if (len > avail - pos)
            return -1;
        pos += len;
    }
    return pos;
}

static void write_row_values(MINER *mnr, const uint8_t *row, unsigned cc)
{
    uint32_t pos = 3;

    for (unsigned i = 0; i < cc; i++) {
        uint32_t len;

        if (i > 0)
            sql_char(mnr, ',');
        if (row[pos] == MARKER_NULL) {
            SQL_LIT(mnr, "NULL");
            pos += 1;
            continue;
        }
        if (row[pos] == MARKER_LONG) {
            len = read_u16(row + pos + 1);
            pos += 3;
        } else {
            len = row[pos];
            pos += 1;
        }
        sql_hex(mnr, row + pos, len);
        pos += len;
    }
}

int parse_qmi(MINER *mnr, REDO_VH *vhdr, uint64_t scn)
{
    VECTOR v;
    FIELD f, sizes, rows;
    KDO_QMI qmi;
    UNDO_INFO u;
    uint64_t start = 0;

    open_vector(&v, vhdr);
    // row operation, size array or rows field missing or short
    if (!vector_field(&v, 2, &f) || f.len < sizeof qmi) {
        note_damage(mnr, "11.11 vector lacks a whole multi-row insert field; rows left out");
        return -1;
    }
    read_layout(&qmi, f.ptr, sizeof qmi);
    sizes = f;
    if (!next_field(&v, &sizes) || sizes.len < 2u * qmi.nrow) {
        note_damage(mnr, "11.11 vector: size array too short for %u rows; rows left out", qmi.nrow);
        return -1;
    }
    rows = sizes;
    if (!next_field(&v, &rows)) {
        note_damage(mnr, "11.11 vector lacks its rows field; rows left out");
        return -1;
    }
    if (qmi.nrow == 0)
        return (int)v.len;
    if (!current_undo(mnr, &u)) {
        note_damage(mnr, "11.11 vector has no undo vector in its record; %u rows left out", qmi.nrow);
        return -1;
    }

    /*
     * Every row line starts with the same prefix and statement head: write
     * it once, keep a copy, and copy it for the rows after.  Room is made
     * first so that no flush splits the text being copied.
     */
    char prefix[256];
    uint32_t prefix_len = 0;

    for (unsigned r = 0; r < qmi.nrow; r++) {
        const uint8_t *row;
        uint32_t avail, size = read_u16(sizes.ptr + 2 * r);
        int64_t rlen;
        unsigned cc;

        // a row must begin with its header and column count inside the rows field
        if (start + 3 > rows.len) {
            note_damage(mnr, "11.11 vector: rows %u to %u lie past the rows field; left out", r + 1, qmi.nrow);
            break;
        }
        row = rows.ptr + start;
        avail = rows.len - (uint32_t)start;
        cc = row[2];
        rlen = measure_row(row, avail, cc);
        if (rlen < 0) {
            note_damage(mnr, "11.11 vector: columns of row %u run past the rows field; row left out", r + 1);
        } else if (rlen > size) {
            // the size array would place the next row inside this one
            note_damage(mnr, "11.11 vector: row %u is %u bytes, longer than its size entry of %u; row left out",
                        r + 1, (unsigned)rlen, size);
        } else {
            if (prefix_len == 0) {
                uint32_t mark;

                sql_reserve(mnr, sizeof prefix);
                mark = mnr->sql_pos;
                write_row_prefix(mnr, scn, &u, "INSERT", true);
                SQL_LIT(mnr, "\"insert into ");
                write_table(mnr, u.bu.objn);
                prefix_len = mnr->sql_pos - mark;
                memcpy(prefix, mnr->sql_buf + mark, prefix_len);
            } else {
                sql_put(mnr, prefix, prefix_len);
            }
            write_column_list(mnr, cc);
            write_row_values(mnr, row, cc);
            SQL_LIT(mnr, ");\"\n");
        }
        start += size;
    }
    return (int)v.len;
}
