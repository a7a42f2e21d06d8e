// The command line: options, defaults, every message and the usage text,
// seen both through parse_arguments itself and through whole runs of the
// program.
#include "mined.h"
#include "quorvil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

using namespace qvtest;

namespace {

std::string usage_text()
{
    return std::string("usage: ") + QUORVIL_BIN + " [options]\n"
           "\n"
           "  -h          show help information\n"
           "  -start_scn  return only redo records with an SCN greater than\n"
           "              or equal to the startScn specified.\n"
           "  -end_scn    return only redo records with an SCN less than\n"
           "              or equal to the endScn specified.\n"
           "  -log        specifies the name of the redo log file to be analyzed.\n"
           "  -out        specifies the name of log content output file.\n"
           "\n";
}

// A log with one START line at SCN 7 and one at the largest SCN.
LogBuilder two_starts()
{
    LogBuilder lb;
    lb.add(7, {v_begin({1, 2, 3})});
    lb.add(0xFFFFFFFFFFFFULL, {v_begin({1, 2, 4})});
    return lb;
}

const std::string kTwoStartsCsv = kCsvHeader +
                                  "7,1,2,3,0,0,,START,set transaction read write;\n"
                                  "281474976710655,1,2,4,0,0,,START,set transaction read write;\n";

// Runs quorvil in a fresh directory holding the log as redo.log.
struct Outcome {
    int status;
    std::string err;  // standard error after the banner
    bool banner_first;
};

Outcome run_in(const TempDir& t, const std::vector<std::string>& args)
{
    RunResult r = run_quorvil(args, t.dir());
    return {r.status, after_banner(r.err), r.err.rfind(banner(), 0) == 0};
}

// parse_arguments on a cleared run context; its messages are captured.
struct Parsed {
    int ret;
    std::string err;
};

Parsed parse(std::vector<std::string> args)
{
    std::memset(&miner, 0, sizeof miner);
    args.insert(args.begin(), "quorvil");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    testing::internal::CaptureStderr();
    int ret = parse_arguments(int(args.size()), argv.data());
    return {ret, testing::internal::GetCapturedStderr()};
}

}  // namespace

TEST(StrToU64, DecimalDigitsOnly)
{
    const struct {
        const char* in;
        uint64_t want;
    } cases[] = {
        {"", 0},
        {"0", 0},
        {"007", 7},
        {"123456789", 123456789},
        {"281474976710655", 0xFFFFFFFFFFFFULL},
        {"18446744073709551614", 0xFFFFFFFFFFFFFFFEULL},
        // all-ones is the refusal value, so 2^64 - 1 itself reads as refused
        {"18446744073709551615", UINT64_MAX},
        // beyond 2^64 - 1 the value wraps without a message
        {"18446744073709551616", 0},
        {"18446744073709551617", 1},
        {"12a", UINT64_MAX},
        {"-5", UINT64_MAX},
        {"+5", UINT64_MAX},
        {" 5", UINT64_MAX},
        {"5 ", UINT64_MAX},
        {"0x10", UINT64_MAX},
        {"1.5", UINT64_MAX},
    };
    for (const auto& c : cases)
        EXPECT_EQ(str_to_u64(c.in), c.want) << '"' << c.in << '"';
}

TEST(ParseArguments, FillsTheRunContext)
{
    const std::string long_name(300, 'n');
    const struct {
        std::vector<std::string> args;
        const char* log;
        const char* out;
        uint64_t start, end;
    } cases[] = {
        {{"-log", "a"}, "a", "log_contents.csv", 0, 0xFFFFFFFFFFFFULL},
        {{"-log", "a", "-end_scn", "0"}, "a", "log_contents.csv", 0, 0xFFFFFFFFFFFFULL},
        {{"-log", "a", "-start_scn", ""}, "a", "log_contents.csv", 0, 0xFFFFFFFFFFFFULL},
        {{"-log", "a", "-out", ""}, "a", "log_contents.csv", 0, 0xFFFFFFFFFFFFULL},
        {{"-log", "a", "-start_scn", "18446744073709551616"}, "a", "log_contents.csv", 0, 0xFFFFFFFFFFFFULL},
        {{"-log", "a", "-end_scn", "18446744073709551614"}, "a", "log_contents.csv", 0,
         0xFFFFFFFFFFFFFFFEULL},
        {{"-start_scn", "500", "-end_scn", "100", "-log", "a"}, "a", "log_contents.csv", 500, 100},
        {{"-log", "a", "-log", "b", "-out", "x", "-out", "y", "-start_scn", "5", "-start_scn", "9"},
         "b", "y", 9, 0xFFFFFFFFFFFFULL},
        // the value is the next argument whatever it looks like
        {{"-log", "-out"}, "-out", "log_contents.csv", 0, 0xFFFFFFFFFFFFULL},
        {{"-out", "-log", "-log", "-h"}, "-h", "-log", 0, 0xFFFFFFFFFFFFULL},
    };
    for (const auto& c : cases) {
        Parsed p = parse(c.args);
        SCOPED_TRACE(testing::PrintToString(c.args));
        EXPECT_EQ(p.ret, 0);
        EXPECT_EQ(p.err, "");
        EXPECT_STREQ(miner.logfile, c.log);
        EXPECT_STREQ(miner.outfile, c.out);
        EXPECT_EQ(miner.start_scn, c.start);
        EXPECT_EQ(miner.end_scn, c.end);
    }

    // 255 characters fit whole; one more is refused, never cut
    Parsed p = parse({"-log", long_name.substr(0, 255), "-out", long_name.substr(0, 254) + "x"});
    EXPECT_EQ(p.ret, 0);
    EXPECT_EQ(std::string(miner.logfile), long_name.substr(0, 255));
    EXPECT_EQ(std::string(miner.outfile), long_name.substr(0, 254) + "x");
    for (const char* opt : {"-log", "-out"}) {
        p = parse({opt, long_name.substr(0, 256)});
        EXPECT_EQ(p.ret, -1);
        EXPECT_EQ(p.err, std::string(opt) + " file name is longer than 255 characters.\n");
    }
}

// Every refused command line, through the real program: the message, the
// usage text where it belongs, status 255, and the banner before all of it.
TEST(CommandLine, RefusedWithMessage)
{
    const std::string u = usage_text();
    const struct {
        std::vector<std::string> args;
        std::string err;
    } cases[] = {
        {{}, "log file name not specified.\n"},
        {{"-out", "x.csv"}, "log file name not specified.\n"},
        {{"-start_scn", "5"}, "log file name not specified.\n"},
        {{"-log", ""}, "log file name not specified.\n"},
        {{"-h"}, u},
        {{"-log", "redo.log", "-start_scn", "5", "-h"}, u},
        {{"-h", "-bogus"}, u},
        {{"-log"}, "no log file specified.\n" + u},
        {{"-log", "redo.log", "-out"}, "no output file specified.\n" + u},
        {{"-log", "redo.log", "-start_scn"}, "no START SCN specified.\n" + u},
        {{"-log", "redo.log", "-end_scn"}, "no END SCN specified.\n" + u},
        {{"-LOG", "redo.log"}, "Invalid option \"-LOG\" specified.\n" + u},
        {{"-log", "redo.log", "redo.log"}, "Invalid option \"redo.log\" specified.\n" + u},
        {{"-logfile", "redo.log"}, "Invalid option \"-logfile\" specified.\n" + u},
        {{"-lo", "redo.log"}, "Invalid option \"-lo\" specified.\n" + u},
        // quorvil takes no --version: its version is in the banner
        {{"--version"}, "Invalid option \"--version\" specified.\n" + u},
        {{"-log", "redo.log", "-bogus", "-h"}, "Invalid option \"-bogus\" specified.\n" + u},
        {{"-log", "redo.log", ""}, "Invalid option \"\" specified.\n" + u},
    };
    TempDir t;
    two_starts().write(t.path("redo.log"));
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        Outcome o = run_in(t, c.args);
        EXPECT_TRUE(o.banner_first);
        EXPECT_EQ(o.status, 255);
        EXPECT_EQ(o.err, c.err);
    }
    // nothing was opened: no output file anywhere
    EXPECT_FALSE(file_exists(t.path("log_contents.csv")));
    EXPECT_FALSE(file_exists(t.path("x.csv")));
}

TEST(CommandLine, RefusedNumbers)
{
    const std::string u = usage_text();
    TempDir t;
    two_starts().write(t.path("redo.log"));
    for (const char* v : {"12a", "-5", "+5", " 5", "0x10", "18446744073709551615"}) {
        SCOPED_TRACE(v);
        Outcome s = run_in(t, {"-log", "redo.log", "-out", "o.csv", "-start_scn", v});
        EXPECT_EQ(s.status, 255);
        EXPECT_EQ(s.err, "start SCN not a digital number.\n" + u);
        Outcome e = run_in(t, {"-log", "redo.log", "-out", "o.csv", "-end_scn", v});
        EXPECT_EQ(e.status, 255);
        EXPECT_EQ(e.err, "end SCN not a digital number.\n" + u);
    }
    EXPECT_FALSE(file_exists(t.path("o.csv")));
}

// Accepted windows, checked by what they select from the same log.
TEST(CommandLine, AcceptedWindows)
{
    const std::string one_line = kCsvHeader + "7,1,2,3,0,0,,START,set transaction read write;\n";
    const std::string none = kCsvHeader;
    const struct {
        std::vector<std::string> args;
        std::string csv;
    } cases[] = {
        {{}, kTwoStartsCsv},
        {{"-end_scn", "0"}, kTwoStartsCsv},  // 0 means the largest SCN
        {{"-end_scn", "281474976710654"}, one_line},
        {{"-start_scn", ""}, kTwoStartsCsv},
        {{"-start_scn", "18446744073709551616"}, kTwoStartsCsv},  // wraps to 0
        {{"-start_scn", "18446744073709551624"},  // wraps to 8
         kCsvHeader + "281474976710655,1,2,4,0,0,,START,set transaction read write;\n"},
        {{"-start_scn", "8", "-start_scn", "7"}, kTwoStartsCsv},  // the later value wins
        {{"-end_scn", "6", "-end_scn", "7"}, one_line},
        {{"-start_scn", "500", "-end_scn", "100"}, none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        TempDir t;
        two_starts().write(t.path("redo.log"));
        std::vector<std::string> args{"-log", "redo.log", "-out", "o.csv"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        Outcome o = run_in(t, args);
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.err, kEnd);
        EXPECT_EQ(read_file(t.path("o.csv")), c.csv);
    }
}

TEST(CommandLine, DefaultOutputFileInWorkingDirectory)
{
    for (const auto& extra : std::vector<std::vector<std::string>>{{}, {"-out", ""}, {"-out", "x", "-out", ""}}) {
        SCOPED_TRACE(testing::PrintToString(extra));
        TempDir t;
        two_starts().write(t.path("redo.log"));
        std::vector<std::string> args{"-log", "redo.log"};
        args.insert(args.end(), extra.begin(), extra.end());
        Outcome o = run_in(t, args);
        EXPECT_EQ(o.status, 0);
        EXPECT_EQ(o.err, kEnd);
        EXPECT_EQ(read_file(t.path("log_contents.csv")), kTwoStartsCsv);
        EXPECT_FALSE(file_exists(t.path("x")));
    }
}

TEST(CommandLine, RepeatedNamesTakeTheLaterOne)
{
    TempDir t;
    two_starts().write(t.path("b.log"));
    Outcome o = run_in(t, {"-log", "missing.log", "-out", "first.csv", "-log", "b.log", "-out", "second.csv"});
    EXPECT_EQ(o.status, 0);
    EXPECT_EQ(o.err, kEnd);
    EXPECT_EQ(read_file(t.path("second.csv")), kTwoStartsCsv);
    EXPECT_FALSE(file_exists(t.path("first.csv")));
}

// A name of more than 255 characters is refused before anything is opened,
// even when its first 255 characters name a file; 255 characters are used
// whole.
TEST(CommandLine, NamesLongerThan255CharactersRefused)
{
    const std::string q(255, 'q'), c(255, 'c'), too_long = " file name is longer than 255 characters.\n";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"-log", q + "-not-this"}, "-log" + too_long},
        {{"-log", q + "q"}, "-log" + too_long},
        {{"-log", q, "-out", c + "c"}, "-out" + too_long},
        {{"-out", c + ".csv", "-log", q + ".log"}, "-out" + too_long},
        {{"-log", q, "-out", c}, kEnd},
    };
    for (size_t i = 0; i < std::size(cases); i++) {
        SCOPED_TRACE(i);  // the row of the table
        const auto& [args, err] = cases[i];
        TempDir t;
        two_starts().write(t.path(q));
        Outcome o = run_in(t, args);
        EXPECT_EQ(o.err, err);
        EXPECT_EQ(o.status, err == kEnd ? 0 : 255);
        // nothing but the log, and the CSV of the run that was not refused
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(t.dir()), {}), err == kEnd ? 2 : 1);
        EXPECT_EQ(read_file(t.path(c)), err == kEnd ? kTwoStartsCsv : "");
    }
}

TEST(CommandLine, LogNamedLikeAnOption)
{
    TempDir t;
    Outcome o = run_in(t, {"-log", "-out"});
    EXPECT_EQ(o.status, 255);
    EXPECT_EQ(o.err, "open -out: No such file or directory\n" + kFail);

    two_starts().write(t.path("-out"));
    Outcome ok = run_in(t, {"-log", "-out"});
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.err, kEnd);
    EXPECT_EQ(read_file(t.path("log_contents.csv")), kTwoStartsCsv);
}
