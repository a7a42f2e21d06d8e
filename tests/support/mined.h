/*
 * mined.h - one whole run of quorvil on a log built by the test: the log is
 * written as redo.log in a fresh directory, quorvil is run there with
 * -log redo.log -out out.csv and any extra arguments, and what a user would
 * see comes back.  Also the messages every run ends with, the standard error
 * of a run that passed over damage, and a case table for tests that compare
 * the row lines of one log.
 */
#ifndef QVTEST_MINED_H
#define QVTEST_MINED_H

#include "log_builder.h"
#include "run_quorvil.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace qvtest {

inline const std::string kCsvHeader =
    "SCN,XIDUSN,XIDSLT,XIDSQN,DATA_OBJ#,DATA_OBJD#,TABLE_NAME,OPERATION,SQL_REDO\n";
inline const std::string kEnd = "quorvil end.\n";
inline const std::string kFail = "quorvil exit with error.\n";

struct Mined {
    int status;
    std::string err;  // standard error after the banner
    std::string csv;  // the whole output file; empty when none was made
    bool csv_made;

    // The CSV after its header line, or the whole of it marked when the
    // header line is not there.
    std::string lines() const
    {
        if (csv.compare(0, kCsvHeader.size(), kCsvHeader) != 0)
            return "<no header line>" + csv;
        return csv.substr(kCsvHeader.size());
    }
};

// Runs quorvil on the redo.log already in t.
inline Mined mine_in(const TempDir& t, const std::vector<std::string>& extra)
{
    std::vector<std::string> args{"-log", "redo.log", "-out", "out.csv"};
    args.insert(args.end(), extra.begin(), extra.end());
    RunResult r = run_quorvil(args, t.dir());
    return {r.status, after_banner(r.err), read_file(t.path("out.csv")), file_exists(t.path("out.csv"))};
}

inline Mined mine(const Bytes& log, const std::vector<std::string>& extra = {})
{
    TempDir t;
    LogBuilder::write_file(t.path("redo.log"), log);
    return mine_in(t, extra);
}

// Written with write(), so holes stay holes.
inline Mined mine(const LogBuilder& lb, const std::vector<std::string>& extra = {})
{
    TempDir t;
    lb.write(t.path("redo.log"));
    return mine_in(t, extra);
}

// Hex digits of the bytes, lower case, as the SQL literals hold them.
inline std::string hexstr(const Bytes& b)
{
    static const char d[] = "0123456789abcdef";
    std::string s;
    s.reserve(2 * b.size());
    for (uint8_t x : b) {
        s += d[x >> 4];
        s += d[x & 15];
    }
    return s;
}

// Standard error of a run that passed over damage in one block: a line per
// damaged place, then the count and the error exit.
inline std::string damage_report(const std::vector<std::string>& what, int block = 2)
{
    std::string s;
    for (const std::string& w : what)
        s += "redo.log: block " + std::to_string(block) + ": " + w + "\n";
    return s + "redo.log: " + std::to_string(what.size()) + " damaged place" + (what.size() == 1 ? "" : "s") +
           " passed over; the output is incomplete\n" + kFail;
}

// One log and the row lines it must give: the CSV after its header line,
// standard error after the banner, and the exit status.
struct LineCase {
    const char* name;
    std::function<void(LogBuilder&)> build;
    std::string lines;
    std::string err = kEnd;
    int status = 0;
};

// Failure messages name the case instead of dumping its bytes.
inline void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

// The body of every LineCase test.
inline void expect_lines(const LineCase& c)
{
    LogBuilder log;
    c.build(log);
    Mined m = mine(log);
    EXPECT_EQ(m.lines(), c.lines);
    EXPECT_EQ(m.err, c.err);
    EXPECT_EQ(m.status, c.status);
}

// Test names from the case names.
inline std::string case_name(const testing::TestParamInfo<LineCase>& i) { return i.param.name; }

}  // namespace qvtest

#endif
