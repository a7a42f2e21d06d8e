/*
 * loading_log.cpp - qv_loading_log OUT.log writes the log the loading scripts
 * mine, one transaction from SCN 3001 to 3006: DDL at 3002 and 3003 whose text
 * and names hold the Latin-1 bytes e9 e8 e0 c9 fb (é è à É û; the second name
 * holds a comma), single- and multi-row inserts at 3004 and 3005 of objects
 * 2^31 and 2^32 - 1, and at 3006 an insert of two columns of 40000 and 30000
 * bytes (byte i is i % 256, then 255 - i % 256): 140,000 hex digits, longer
 * than a CSV reader's default field limit.
 */
#include "log_builder.h"

#include <cstdio>

using namespace qvtest;

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUT.log\n", argv[0]);
        return 2;
    }
    const Xid x{3, 17, 245}, high{65535, 65535, 0x80000000u};
    Bytes wide1(40000), wide2(30000);
    for (size_t i = 0; i < wide1.size(); i++)
        wide1[i] = uint8_t(i % 256);
    for (size_t i = 0; i < wide2.size(); i++)
        wide2[i] = uint8_t(255 - i % 256);
    LogBuilder b(LogOptions{.first_scn = 3001});  // a builder's error ends the program with its message
    b.add(3001, {v_begin(x)});
    b.add(3002, {v_ddl(x, 73520, "create table \"Caf\xe9\" (\"Cr\xe8me br\xfbl\xe9\x65\" varchar2(9) default 'd\xe9j\xe0')",
                       "Caf\xe9")});
    b.add(3003, {v_ddl(x, 73520, "alter table \"Caf\xe9\" rename to \"\xc9t\xe9, 2024\"", "\xc9t\xe9, 2024")});
    b.add(3004, {v_undo_insert(high, 0x80000000u, 0xFFFFFFFFu), v_insert({hex("c102")})});
    b.add(3005, {v_undo_insert(x, 0xFFFFFFFFu, 0x80000000u), v_qmi({{{hex("c103")}}})});
    b.add(3006, {v_undo_insert(x, 73521, 73521), v_insert({wide1, wide2})});
    b.add(3006, {v_commit(x)});
    b.write(argv[1]);
}
