/*
 * recipe_logs.cpp - writes the folder of logs the README recipes are tested
 * on: three logs of thread 1, sequences 41, 42 and 43, named so that their
 * names sort in another order (log_c.arc is 41, log_a.arc 42, log_b.arc 43).
 *
 *   T1 10  insert, commit                          all in 41
 *   T2 20  insert in 41, insert in 42, commit in 42
 *   T3 30  insert, rollback                        in 42
 *   T4 40  insert, delete, commit after T5's       in 43
 *   T5 50  DDL, insert, commit                     in 43
 *
 * Committed, in commit order: T1, T2, T5, T4; T3 is left out.
 */
#include "log_builder.h"
#include "quorvil.h"

#include <cstdio>
#include <exception>
#include <string>

using namespace qvtest;

static Bytes num(uint8_t n) { return {0xc1, uint8_t(n + 1)}; }

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    const Xid t1{1, 1, 10}, t2{2, 2, 20}, t3{3, 3, 30}, t4{4, 4, 40}, t5{5, 5, 50};
    const uint32_t tab = 73501;
    try {
        LogBuilder a({.first_scn = 100, .sequence = 41, .next_scn = 200});
        a.add(101, {v_begin(t1), v_undo_insert(t1, tab, tab), v_insert({num(1), str("one")})});
        a.add(103, {v_commit(t1)});
        a.add(110, {v_begin(t2), v_undo_insert(t2, tab, tab), v_insert({num(2), str("two")})});
        a.write(dir + "/log_c.arc");

        LogBuilder b({.first_scn = 200, .sequence = 42, .next_scn = 300});
        b.add(201, {v_undo_insert(t2, tab, tab), v_insert({num(3), str("three")})});
        b.add(202, {v_commit(t2)});
        b.add(210, {v_begin(t3), v_undo_insert(t3, tab, tab), v_insert({num(4), str("four")})});
        b.add(212, {v_commit(t3, KTUCM_ROLLBACK)});
        b.write(dir + "/log_a.arc");

        LogBuilder c({.first_scn = 300, .sequence = 43, .next_scn = 400});
        c.add(301, {v_begin(t4), v_undo_insert(t4, tab, tab), v_insert({num(5), str("five")})});
        c.add(303, {v_begin(t5), v_ddl(t5, 73520, "create table \"HR\".\"NOTES\" (n number)", "NOTES")});
        c.add(304, {v_undo_insert(t5, 73520, 73520), v_insert({num(6)})});
        c.add(305, {v_commit(t5)});
        c.add(306, {v_undo_delete(t4, tab, tab, {num(5), str("five")}), v_delete()});
        c.add(307, {v_commit(t4)});
        c.write(dir + "/log_b.arc");
    } catch (const std::exception &e) {
        std::fprintf(stderr, "recipe_logs: %s\n", e.what());
        return 1;
    }
    return 0;
}
