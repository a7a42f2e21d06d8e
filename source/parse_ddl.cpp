/*
 * parse_ddl.cpp - parse_ddl: opcode 24.1, the text of a DDL statement.
 *
 * Fields: 1 DDL_PART1 (transaction), 4 DDL_PART4 (object number), 8 the
 * statement text, 10 the object name; each text ends at its length or its
 * first zero byte.  One DDL line, everything taken from the vector itself.
 * The statement is written inside a double-quoted field with its double
 * quotes doubled, and a name holding a comma, a double quote or a line break
 * is quoted the same way, so every line stays readable as CSV.  A vector
 * with fewer than ten fields is reported as damage.  Always returns -1: the
 * dispatcher measures the vector.
 */
#include "quorvil.h"

/* Does the name need CSV quoting? */
static bool needs_quotes(const uint8_t *p, uint32_t len)
{
    for (uint32_t i = 0; i < len && p[i] != '\0'; i++)
        if (p[i] == ',' || p[i] == '"' || p[i] == '\n' || p[i] == '\r')
            return true;
    return false;
}

int parse_ddl(MINER *mnr, REDO_VH *vhdr, uint64_t scn)
{
    VECTOR v;
    FIELD f1, f4, f8, f10;
    DDL_PART1 p1;
    DDL_PART4 p4;

    open_vector(&v, vhdr);
    // fields 1, 4, 8 and 10 must all be there, the first two whole
    if (!vector_field(&v, 1, &f1) || f1.len < sizeof p1 || !vector_field(&v, 4, &f4) || f4.len < sizeof p4 ||
        !vector_field(&v, 8, &f8) || !vector_field(&v, 10, &f10)) {
        note_damage(mnr, "24.1 vector lacks its transaction, object, statement or name field; DDL left out");
        return -1;
    }
    read_layout(&p1, f1.ptr, sizeof p1);
    read_layout(&p4, f4.ptr, sizeof p4);

    sql_u64(mnr, scn);
    sql_char(mnr, ',');
    sql_u64(mnr, p1.xid_usn);
    sql_char(mnr, ',');
    sql_u64(mnr, p1.xid_slt);
    sql_char(mnr, ',');
    sql_i64(mnr, (int32_t)p1.xid_sqn);
    sql_char(mnr, ',');
    sql_u64(mnr, p4.objn);
    SQL_LIT(mnr, ",0,");
    if (needs_quotes(f10.ptr, f10.len)) {
        sql_char(mnr, '"');
        sql_quoted(mnr, f10.ptr, f10.len);
        sql_char(mnr, '"');
    } else {
        sql_quoted(mnr, f10.ptr, f10.len);
    }
    SQL_LIT(mnr, ",DDL,\"");
    sql_quoted(mnr, f8.ptr, f8.len);
    SQL_LIT(mnr, "\"\n");
    return -1;
}
