// START, COMMIT and ROLLBACK lines (opcodes 5.2 and 5.4): the transaction
// identifier taken from the vector's class and field 1, the flag that tells
// a rollback, and the numbers printed with their sign.
#include "mined.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qvtest;

namespace {

Vector with_class(Vector v, uint16_t cls)
{
    v.cls = cls;
    return v;
}

}  // namespace

// One vector per run, its line compared whole.
TEST(Transaction, Lines)
{
    const struct {
        const char* what;
        uint64_t scn;
        Vector v;
        std::string line;
    } cases[] = {
        {"rollback, flg 0x04", 5000, with_class(v_commit({0, 7, 1234}, 0x04), 23),
         "5000,4,7,1234,0,0,,ROLLBACK,rollback;"},
        {"rollback, flg 0x06", 5000, with_class(v_commit({0, 7, 1234}, 0x06), 23),
         "5000,4,7,1234,0,0,,ROLLBACK,rollback;"},
        {"rollback, flg 0xff", 5000, with_class(v_commit({0, 7, 1234}, 0xff), 23),
         "5000,4,7,1234,0,0,,ROLLBACK,rollback;"},
        {"commit, flg 0x00", 5000, with_class(v_commit({0, 7, 1234}, 0x00), 23), "5000,4,7,1234,0,0,,COMMIT,commit;"},
        {"commit, flg 0x02", 5000, with_class(v_commit({0, 7, 1234}, 0x02), 23), "5000,4,7,1234,0,0,,COMMIT,commit;"},
        {"commit, flg 0xfb", 5000, with_class(v_commit({0, 7, 1234}, 0xfb), 23), "5000,4,7,1234,0,0,,COMMIT,commit;"},
        {"start", 900, v_begin({5, 12, 345}), "900,5,12,345,0,0,,START,set transaction read write;"},
        {"commit of sequence 0", 900, v_commit({5, 12, 0}), "900,5,12,0,0,0,,COMMIT,commit;"},
        {"start, class 0", 7, with_class(v_begin({0, 1, 2}), 0), "7,-8,1,2,0,0,,START,set transaction read write;"},
        {"start, class 13", 7, with_class(v_begin({0, 1, 2}), 13), "7,-1,1,2,0,0,,START,set transaction read write;"},
        {"start, class 14", 7, with_class(v_begin({0, 1, 2}), 14), "7,-1,1,2,0,0,,START,set transaction read write;"},
        {"start, class 15", 7, with_class(v_begin({0, 1, 2}), 15), "7,0,1,2,0,0,,START,set transaction read write;"},
        {"start, class 16", 7, with_class(v_begin({0, 1, 2}), 16), "7,0,1,2,0,0,,START,set transaction read write;"},
        {"start, class 17", 7, with_class(v_begin({0, 1, 2}), 17), "7,1,1,2,0,0,,START,set transaction read write;"},
        {"start, class 32", 7, with_class(v_begin({0, 1, 2}), 32), "7,8,1,2,0,0,,START,set transaction read write;"},
        {"start, class 33", 7, with_class(v_begin({0, 1, 2}), 33), "7,9,1,2,0,0,,START,set transaction read write;"},
        {"start, class 65535", 7, with_class(v_begin({0, 1, 2}), 65535),
         "7,32760,1,2,0,0,,START,set transaction read write;"},
        {"commit, class 0", 7, with_class(v_commit({0, 1, 2}), 0), "7,-8,1,2,0,0,,COMMIT,commit;"},
        {"commit, class 14", 7, with_class(v_commit({0, 1, 2}), 14), "7,-1,1,2,0,0,,COMMIT,commit;"},
        {"commit, class 65535", 7, with_class(v_commit({0, 1, 2}), 65535), "7,32760,1,2,0,0,,COMMIT,commit;"},
        {"start, sequence 2^31", 7, v_begin({1, 1, 0x80000000u}),
         "7,1,1,-2147483648,0,0,,START,set transaction read write;"},
        {"start, sequence 2^32-1", 7, v_begin({1, 1, 0xFFFFFFFFu}), "7,1,1,-1,0,0,,START,set transaction read write;"},
        {"start, sequence 2^31-1", 7, v_begin({1, 1, 0x7FFFFFFFu}),
         "7,1,1,2147483647,0,0,,START,set transaction read write;"},
        {"commit, sequence 2^31", 7, v_commit({1, 1, 0x80000000u}), "7,1,1,-2147483648,0,0,,COMMIT,commit;"},
        {"rollback, sequence 2^32-1", 7, v_commit({1, 1, 0xFFFFFFFFu}, 4), "7,1,1,-1,0,0,,ROLLBACK,rollback;"},
        {"slot 65535", 7, v_begin({1, 65535, 3}), "7,1,65535,3,0,0,,START,set transaction read write;"},
        {"largest SCN", 281474976710655ULL, v_commit({1, 2, 3}), "281474976710655,1,2,3,0,0,,COMMIT,commit;"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LogBuilder lb;
        lb.add(c.scn, {c.v});
        Mined m = mine(lb);
        EXPECT_EQ(m.status, 0);
        EXPECT_EQ(m.err, kEnd);
        EXPECT_EQ(m.csv, kCsvHeader + c.line + "\n");
    }
}

// A START of sequence 0 writes nothing; the vectors after it in the same
// record are decoded.
TEST(Transaction, StartOfSequenceZeroWritesNothing)
{
    LogBuilder lb;
    lb.add(10, {v_begin({1, 2, 0}), v_commit({1, 2, 0}), v_begin({1, 3, 0}), v_begin({1, 4, 9})});
    lb.add(11, {v_begin({1, 5, 0})});
    lb.add(12, {v_commit({1, 4, 9}, 4)});
    Mined m = mine(lb);
    EXPECT_EQ(m.status, 0);
    EXPECT_EQ(m.err, kEnd);
    EXPECT_EQ(m.csv, kCsvHeader +
                         "10,1,2,0,0,0,,COMMIT,commit;\n"
                         "10,1,4,9,0,0,,START,set transaction read write;\n"
                         "12,1,4,9,0,0,,ROLLBACK,rollback;\n");
}

// Lines are written from their own vectors in log order; nothing pairs a
// START with its end.
TEST(Transaction, UnpairedStartsAndEnds)
{
    LogBuilder lb;
    lb.add(90, {v_begin({3, 1, 100})});
    lb.add(110, {v_commit({2, 9, 55}), v_begin({3, 2, 200}), v_commit({3, 1, 100}, 4)});
    lb.add(120, {v_begin({4, 1, 300}), v_begin({4, 2, 301}), v_commit({4, 2, 301}), v_commit({4, 2, 301})});
    const std::string from110 =
        "110,2,9,55,0,0,,COMMIT,commit;\n"
        "110,3,2,200,0,0,,START,set transaction read write;\n"
        "110,3,1,100,0,0,,ROLLBACK,rollback;\n"
        "120,4,1,300,0,0,,START,set transaction read write;\n"
        "120,4,2,301,0,0,,START,set transaction read write;\n"
        "120,4,2,301,0,0,,COMMIT,commit;\n"
        "120,4,2,301,0,0,,COMMIT,commit;\n";

    Mined all = mine(lb);
    EXPECT_EQ(all.status, 0);
    EXPECT_EQ(all.err, kEnd);
    EXPECT_EQ(all.csv, kCsvHeader + "90,3,1,100,0,0,,START,set transaction read write;\n" + from110);

    // the START of 3.1.100 lies before the window: its ROLLBACK stands alone
    Mined window = mine(lb, {"-start_scn", "100"});
    EXPECT_EQ(window.status, 0);
    EXPECT_EQ(window.err, kEnd);
    EXPECT_EQ(window.csv, kCsvHeader + from110);
}
