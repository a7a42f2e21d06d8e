// The output file.  NeverTheLog: every way of naming the log as the output is
// refused.  OneWriterAtATime: a lock on the output, exclusive or shared, means
// another run has it, and the run is refused.  A refused run (status 255)
// leaves every file of the folder, the log first, as it was.
// OtherOutputsStillWritten: /dev/null even while another holds a lock on it,
// standard output, a FIFO, and a longer file, emptied first, take the CSV.
// Every case runs the real program through the shell, so a case can close or
// redirect its standard output, and flock(1) holds a lock the way another run
// would while the case runs.
#include "mined.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

const std::string kCsv = kCsvHeader +
                         "10,2,5,77,0,0,,START,set transaction read write;\n"
                         "11,2,5,77,0,0,,COMMIT,commit;\n";
const std::string kRun = "\"$Q\" -log redo.log -out ", n255(255, 'L');
const std::string kBusy = "open out.csv: another run is writing it\n" + kFail;

std::string same(const std::string& out) { return "open " + out + ": it is the log redo.log itself; nothing written\n" + kFail; }

// Every regular file of the folder (links followed) and its bytes.
std::map<std::string, std::string> snapshot(const TempDir& t)
{
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(t.dir()))
        if (e.is_regular_file())
            files[e.path().filename()] = read_file(e.path());
    return files;
}

struct Case {
    const char* name;
    std::string setup;  // shell commands that ready the folder of redo.log, if any
    std::string cmd;    // the run, by the shell in that folder; $Q is the program
    std::string err;    // after the banner; kEnd for a run that must write the CSV
    const char* written = nullptr;  // the file that must then hold the CSV, if any
};

const Case kNeverTheLog[] = {
    {"same name", "", kRun + "redo.log", same("redo.log")},
    {"another path", "", kRun + "./redo.log", same("./redo.log")},
    {"symbolic link", "ln -s redo.log link.csv", kRun + "link.csv", same("link.csv")},
    {"hard link", "ln redo.log hard.csv", kRun + "hard.csv", same("hard.csv")},
    {"standard output closed", "", kRun + "/dev/stdout >&-", same("/dev/stdout")},
    {"255-character log name and its .csv", "cp redo.log " + n255, "\"$Q\" -log " + n255 + " -out " + n255 + ".csv",
     "-out file name is longer than 255 characters.\n"},
};
const Case kOneWriterAtATime[] = {
    {"exclusive lock", "", "flock -x out.csv " + kRun + "out.csv", kBusy},
    {"shared lock", "", "flock -s out.csv " + kRun + "out.csv", kBusy},
    {"lock let go", "", "exec 3<out.csv && flock -x 3 && flock -u 3 && " + kRun + "out.csv", kEnd, "out.csv"},
};
const Case kOtherOutputsStillWritten[] = {
    {"/dev/null locked by another run", "", "flock -x /dev/null " + kRun + "/dev/null", kEnd},
    {"/dev/stdout into a file", "", kRun + "/dev/stdout >stdout.txt", kEnd, "stdout.txt"},
    {"FIFO", "mkfifo fifo", "cat fifo >fifo.txt & " + kRun + "fifo; s=$?; wait; exit $s", kEnd, "fifo.txt"},
    {"longer file", "", kRun + "out.csv", kEnd, "out.csv"},
};

// The body of every case.
void expect(const Case& c)
{
    setenv("Q", QUORVIL_BIN, 1);
    SCOPED_TRACE(c.name);
    TempDir t, e;
    // standard error goes to a file of another folder
    auto sh = [&](const std::string& cmd) {
        const int st = std::system(("cd '" + t.dir() + "' && { " + cmd + " ; } 2>'" + e.path("err") + "'").c_str());
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    };
    LogBuilder lb;
    lb.add(10, {v_begin({2, 5, 77})});
    lb.add(11, {v_commit({2, 5, 77})});
    lb.write(t.path("redo.log"));
    LogBuilder::write_file(t.path("out.csv"), Bytes(10000, 'o'));  // another run's lines, longer than the CSV
    ASSERT_EQ(sh(c.setup.empty() ? "true" : c.setup), 0) << read_file(e.path("err"));
    const auto before = snapshot(t);
    EXPECT_EQ(sh(c.cmd), c.err == kEnd ? 0 : 255);
    EXPECT_EQ(after_banner(read_file(e.path("err"))), c.err);
    if (c.err != kEnd) {
        EXPECT_EQ(snapshot(t), before);
    }
    if (c.written) {
        EXPECT_EQ(read_file(t.path(c.written)), kCsv);
    }
}

}  // namespace

TEST(OutputFile, NeverTheLog) { for (const Case& c : kNeverTheLog) expect(c); }
TEST(OutputFile, OneWriterAtATime) { for (const Case& c : kOneWriterAtATime) expect(c); }
TEST(OutputFile, OtherOutputsStillWritten) { for (const Case& c : kOtherOutputsStillWritten) expect(c); }
