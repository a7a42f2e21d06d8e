// Logs as users move them, through the shell: compressed in each format,
// from a pipe, from standard input, with the CSV on standard output (>>
// appends, a loop concatenates); a damaged compressed stream; the log never
// the output by any route; quorvil-info on the same, and a FIFO among its
// files.  The log spans more than the 8 MiB a stream keeps to read again,
// and a second one holds a record of 3 MiB.  A run that mines must write
// exactly the CSV of the plain file.
#include "mined.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <string>

using namespace qvtest;

namespace {

struct Case {
    const char* name;
    std::string cmd;            // run by bash (pipefail) beside big.log, long.log, big.csv; $Q quorvil, $I quorvil-info
    int status;
    std::string err;            // standard error must hold this
    const char* csv = nullptr;  // out.csv must be this CSV (big.csv or long.csv) or a part of it
    bool part = false;
};

const Case kCases[] = {
    {"gzip", "gzip -c big.log >l.gz && \"$Q\" -log l.gz -out out.csv", 0, kEnd, "big.csv"},
    {"zstd", "zstd -q -c <big.log >l.zst && \"$Q\" -log l.zst -out out.csv", 0, kEnd, "big.csv"},
    {"xz", "xz -T1 -c big.log >l.xz && \"$Q\" -log l.xz -out out.csv", 0, kEnd, "big.csv"},
    {"bzip2", "bzip2 -c big.log >l.bz2 && \"$Q\" -log l.bz2 -out out.csv", 0, kEnd, "big.csv"},
    {"concatenated gzip members", "(head -c 5000000 big.log | gzip -c; tail -c +5000001 big.log | gzip -c) >l.gz && "
     "\"$Q\" -log l.gz -out out.csv", 0, kEnd, "big.csv"},
    {"-log -", "cat big.log | \"$Q\" -log - -out out.csv", 0, kEnd, "big.csv"},
    {"zstd through standard input", "zstd -q -c <big.log | \"$Q\" -log /dev/stdin -out out.csv", 0, kEnd, "big.csv"},
    {"process substitution", "\"$Q\" -log <(gzip -c big.log | gzip -dc) -out out.csv", 0, kEnd, "big.csv"},
    {"3 MiB record from a pipe", "cat long.log | \"$Q\" -log - -out out.csv", 0, "allocate new memory", "long.csv"},
    {"cut gzip", "gzip -c big.log >all.gz && head -c 300000 all.gz >l.gz && \"$Q\" -log l.gz -out out.csv", 255,
     "read l.gz: gzip: unexpected end of file\n" + kFail, "big.csv", true},
    // the changed bytes decompress to blocks whose checksums fail, then zstd's own check fails
    {"corrupt zstd", "zstd -q -c <big.log >l.zst && printf '\\377\\377\\377\\377' | dd of=l.zst bs=1 seek=90000 "
     "conv=notrunc 2>/dev/null && \"$Q\" -log l.zst -out out.csv", 255, "read l.zst: zstd: "},
    {"info on each format and a pipe", "gzip -c big.log >l.gz && xz -T1 -c big.log >l.xz && for f in l.gz l.xz; do "
     "\"$I\" $f | grep -q 'verdict: *intact$' || exit 1; done && bzip2 -c big.log | \"$I\" - | grep -q 'verdict: *intact$'",
     0, ""},
    {"info on a cut stream", "bzip2 -c big.log >all.bz2 && head -c 100000 all.bz2 >l.bz2 && \"$I\" l.bz2 | grep -q 'verdict: *unreadable$'",
     2, "read l.bz2: bzip2: compressed file ends unexpectedly\n"},
    // never opened, so never waited on; the other files still reported
    {"info on a FIFO among files", "mkfifo fifo && timeout 20 \"$I\" fifo big.log | grep -c 'verdict: *not a regular "
     "file$\\|verdict: *intact$' | grep -qx 2", 2, "read fifo: not a regular file\n"},
    // standard output as the shell opened it: appended to, runs one after another
    {">> appends", "echo note >x.csv && \"$Q\" -log big.log -out /dev/stdout >>x.csv && { echo note; cat big.csv; } | "
     "cmp - x.csv", 0, kEnd},
    {"a loop into one file", "for d in - /dev/fd/1 /proc/self/fd/1; do \"$Q\" -log big.log -out $d; done >x.csv && "
     "cat big.csv big.csv big.csv | cmp - x.csv", 0, kEnd},
    {"descriptor 3", "\"$Q\" -log big.log -out /dev/fd/3 3>>x.csv && cmp big.csv x.csv", 0, kEnd},
    {"standard output that is the log", "cp big.log c.log && \"$Q\" -log c.log -out /dev/stdout >>c.log; s=$?; "
     "cmp -s c.log big.log && exit $s", 255, "open /dev/stdout: it is the log c.log itself; nothing written\n"},
    // the same bytes by another route: a loop device and the file behind it, a second node for the device
    {"loop device routes", "cp big.log c.log && d=$(losetup -f --show c.log 2>/dev/null) || exit 77; "
     "trap 'losetup -d $d' EXIT; mknod node b $(stat -c '0x%t 0x%T' $d) || exit 77; n=0; "
     "for r in \"-log $d -out c.log\" \"-log c.log -out $d\" \"-log $d -out node\" \"-log node -out c.log\"; do "
     "\"$Q\" $r; [ $? = 255 ] && cmp -s c.log big.log && n=$((n + 1)); done; [ $n = 4 ]", 0,
     "open c.log: it is the log /dev/loop"},
};

class LogInput : public testing::TestWithParam<Case> {};

TEST_P(LogInput, MinedAsThePlainFile)
{
    const Case& c = GetParam();
    static TempDir logs;
    if (!file_exists(logs.path("big.csv"))) {
        // more than 8 MiB of log, as qvgen writes it, and a record of 3 MiB
        ASSERT_EQ(std::system(("\"" QUORVIL_BINARY_DIR "/tools/qvgen\" --bench 10 '" + logs.path("big.log") +
                               "' >/dev/null")
                                  .c_str()),
                  0);
        LogBuilder lb;
        lb.add(10, {v_undo_insert({1, 2, 3}, 5, 5), v_insert(std::vector<Col>(50, Bytes(60000, 0x5a)))});
        lb.add(11, {v_commit({1, 2, 3})});
        lb.write(logs.path("long.log"));
        for (const char* n : {"big", "long"})
            ASSERT_EQ(mine_in(logs, {"-log", std::string(n) + ".log", "-out", std::string(n) + ".csv"}).status, 0);
    }
    setenv("Q", QUORVIL_BIN, 1);
    setenv("I", QUORVIL_INFO_BIN, 1);
    TempDir t;
    const std::string err = t.path("err");
    LogBuilder::write_file(t.path("case.sh"), str("set -o pipefail\n" + c.cmd + "\n"));
    const int st = std::system(("cd '" + t.dir() + "' && ln -s '" + logs.path("big.log") + "' '" +
                                logs.path("long.log") + "' '" + logs.path("big.csv") + "' . && bash case.sh >out.txt 2>'" +
                                err + "'")
                                   .c_str());
    ASSERT_TRUE(WIFEXITED(st));
    if (WEXITSTATUS(st) == 77)
        GTEST_SKIP() << "no loop device can be made here";
    EXPECT_EQ(WEXITSTATUS(st), c.status) << read_file(err) << read_file(t.path("out.txt"));
    EXPECT_NE(read_file(err).find(c.err), std::string::npos) << read_file(err);
    if (c.csv) {
        const std::string want = read_file(logs.path(c.csv)), got = read_file(t.path("out.csv"));
        if (c.part)
            EXPECT_TRUE(got.size() > kCsvHeader.size() && got.size() < want.size() && want.compare(0, got.size(), got) == 0);
        else
            EXPECT_EQ(got, want);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, LogInput, testing::ValuesIn(kCases),
                         [](const auto& i) {
                             std::string n = i.param.name;
                             for (char& ch : n)
                                 if (!isalnum((unsigned char)ch))
                                     ch = '_';
                             return n;
                         });

}  // namespace
