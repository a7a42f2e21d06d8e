/*
 * folder_test.cpp - quorvil-folder end to end on folders written by
 * qvgen --series: six logs of thread 1, the third and sixth gzip-compressed,
 * changed by each case before the first run and between two runs.  The
 * logs table must name the logs expected, and every log's rows in redo
 * must be as many as quorvil writes for that log alone: none lost, none
 * loaded twice.
 */
#include "run_quorvil.h"
#include "temp_dir.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <regex>

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

// The rows of a query: columns joined by '|', rows by ' '.
std::string query(const std::string& db, const std::string& sql)
{
    sqlite3* h = nullptr;
    std::string out;
    if (sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK)
        sqlite3_exec(h, sql.c_str(), [](void* o, int n, char** v, char**) {
            std::string& s = *static_cast<std::string*>(o);
            for (int i = 0; i < n; i++)
                s += (i > 0 ? "|" : s.empty() ? "" : " ") + std::string(v[i] ? v[i] : "NULL");
            return 0;
        }, &out, nullptr);
    sqlite3_close(h);
    return out;
}

// The lines quorvil writes for one log, its header line not counted.
long quorvil_lines(const std::string& log)
{
    TempDir t;
    run_quorvil({"-log", log, "-out", t.path("x.csv")});
    std::string csv = read_file(t.path("x.csv"));
    return long(std::count(csv.begin(), csv.end(), '\n')) - 1;
}

void series(const std::string& dir, const std::string& more = "")
{
    ASSERT_EQ(std::system((std::string(QVGEN_BIN) + " --series 6 " + dir + " --log-kb 64 --compress gz "
                           "--compress-every 3 " + more).c_str()), 0);
}

using Step = std::function<void(const std::string& dir, const std::string& aside)>;
const Step none = [](auto&, auto&) {};

struct Case {
    const char* name;
    Step before;        // changes the folder before the first run
    Step between;       // before a second run; none: one run only
    const char* out;    // the output, in the folder
    int status;         // of the last run
    const char* logs;   // the logs table (thread_sequence:verdict:quorvil's status), nullptr for a CSV
    const char* said;   // in the last run's standard output
};

const char* const kSix = "1_1:intact:0 1_2:intact:0 1_3:intact:0 1_4:intact:0 1_5:intact:0 1_6:intact:0";

const Case kCases[] = {
    {"gap_compressed_damaged_not_a_log",
     [](auto& d, auto&) {
         fs::remove(d + "/1_4.arc");
         std::fstream f(d + "/1_2.arc", std::ios::in | std::ios::out | std::ios::binary);
         f.seekp(512 * 20 + 100);
         f.put('\x5a');
         std::ofstream(d + "/notes.txt") << "not a log\n";
     },
     nullptr, "redo.db", 1, "1_1:intact:0 1_2:damaged:255 1_3:intact:0 1_5:intact:0 1_6:intact:0",
     "thread 1: sequence 4 missing"},
    {"second_run_adds_two_logs",
     [](auto& d, auto& a) {
         fs::rename(d + "/1_5.arc", a + "/1_5.arc");
         fs::rename(d + "/1_6.arc.gz", a + "/1_6.arc.gz");
     },
     [](auto& d, auto& a) {
         fs::rename(a + "/1_5.arc", d + "/1_5.arc");
         fs::rename(a + "/1_6.arc.gz", d + "/1_6.arc.gz");
     },
     "redo.db", 0, kSix, "2 logs to load"},
    {"third_run_loads_nothing", none, none, "redo.db", 0, kSix, "0 logs to load"},
    {"same_bytes_under_two_names", [](auto& d, auto&) { fs::copy_file(d + "/1_1.arc", d + "/copy.arc"); }, nullptr,
     "redo.db", 1, kSix, "already loaded, as"},
    {"two_threads", [](auto& d, auto&) { series(d, "--thread 2 --seed 9"); }, nullptr, "redo.db", 0,
     "1_1:intact:0 1_2:intact:0 1_3:intact:0 1_4:intact:0 1_5:intact:0 1_6:intact:0 2_1:intact:0 2_2:intact:0 "
     "2_3:intact:0 2_4:intact:0 2_5:intact:0 2_6:intact:0",
     "12 logs to load"},
    {"one_csv", none, nullptr, "all.csv", 0, nullptr, "6 logs loaded"},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class Folder : public testing::TestWithParam<Case> {};

TEST_P(Folder, Loads)
{
    const Case& c = GetParam();
    TempDir t, aside;
    const std::string out = t.path(c.out);
    series(t.dir());
    c.before(t.dir(), aside.dir());
    RunResult r = run_program(QUORVIL_FOLDER_BIN, {"-out", out, t.dir()});
    if (c.between) {
        c.between(t.dir(), aside.dir());
        r = run_program(QUORVIL_FOLDER_BIN, {"-out", out, t.dir()});
    }
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE(r.out.find(c.said), std::string::npos) << r.out;

    // the logs of the folder, a copy of one of them not counted
    std::map<std::string, long> lines;
    long want = 0;
    for (const auto& e : fs::directory_iterator(t.dir()))
        if (e.path().filename().string().find(".arc") != std::string::npos && e.path().filename() != "copy.arc")
            want += lines[e.path()] = quorvil_lines(e.path());
    if (c.logs == nullptr) {
        std::string csv = read_file(out);
        EXPECT_EQ(long(std::count(csv.begin(), csv.end(), '\n')), want + 1);
        return;
    }
    EXPECT_EQ(query(out, "SELECT thread || '_' || sequence, verdict, quorvil_status FROM logs "
                         "ORDER BY thread, sequence"),
              std::regex_replace(c.logs, std::regex(":"), "|"));
    // every log's rows: as many as its own line count, and as quorvil writes for it
    for (const auto& [log, n] : lines)
        EXPECT_EQ(query(out, "SELECT lines, (SELECT count(*) FROM redo WHERE LOG_ID = id) FROM logs WHERE name = '" +
                                 log + "'"),
                  std::to_string(n) + "|" + std::to_string(n))
            << log;
    EXPECT_EQ(query(out, "SELECT count(*) FROM redo"), std::to_string(want));
}

INSTANTIATE_TEST_SUITE_P(Cases, Folder, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

}  // namespace
