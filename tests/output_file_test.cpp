// The output file: never the log itself, by whatever name it is reached;
// one run writing it at a time; devices and FIFOs written as before.  Every
// case runs the real program through the shell, so a case can close or
// redirect its standard output.
#include "mined.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

const std::string kCsv = kCsvHeader +
                         "10,2,5,77,0,0,,START,set transaction read write;\n"
                         "11,2,5,77,0,0,,COMMIT,commit;\n";
const std::string n255(255, 'L');
const std::string kTheirs = "lines of the run that holds the file\n";

// Every regular file of the folder (links followed) and its bytes.
std::map<std::string, std::string> snapshot(const TempDir& t)
{
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(t.dir()))
        if (e.is_regular_file())
            files[e.path().filename()] = read_file(e.path());
    return files;
}

// A descriptor of the file with a lock on it the way another run would take
// it, let go again when let_go.
int lock(const std::string& path, int op, bool let_go = false)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || flock(fd, op) != 0 || (let_go && flock(fd, LOCK_UN) != 0))
        throw std::runtime_error("cannot lock " + path);
    return fd;
}

// out.csv holding another run's lines, with a lock on it.
int theirs(const TempDir& t, int op, bool let_go = false)
{
    LogBuilder::write_file(t.path("out.csv"), Bytes(kTheirs.begin(), kTheirs.end()));
    return lock(t.path("out.csv"), op, let_go);
}

std::string same(const std::string& out) { return "open " + out + ": it is the log redo.log itself; nothing written\n" + kFail; }

struct Case {
    const char* name;
    std::string cmd;  // run by the shell in the folder of redo.log; $Q is the program
    std::string err;  // after the banner; kEnd for a run that must write the CSV
    const char* written = nullptr;  // the file that must then hold the CSV, if any
    // Readies the folder; returns a descriptor to close after the run, or -1.
    std::function<int(const TempDir&)> prepare = [](const TempDir&) { return -1; };
};

const std::string kRun = "\"$Q\" -log redo.log -out ";

// Refused runs (status 255) leave every file of the folder, the log first,
// as it was: any way of naming the log as the output, and a lock on the
// output, exclusive or shared, which means another run has it.  Outputs that
// are not the log still take the CSV: /dev/null even while another holds a
// lock on it, standard output, a FIFO, and a longer file, emptied first.
const Case kCases[] = {
    {"same name", kRun + "redo.log", same("redo.log")},
    {"another path", kRun + "./redo.log", same("./redo.log")},
    {"symbolic link", kRun + "link.csv", same("link.csv"), nullptr,
     [](const TempDir& t) { fs::create_symlink("redo.log", t.path("link.csv")); return -1; }},
    {"hard link", kRun + "hard.csv", same("hard.csv"), nullptr,
     [](const TempDir& t) { fs::create_hard_link(t.path("redo.log"), t.path("hard.csv")); return -1; }},
    {"standard output closed", kRun + "/dev/stdout >&-", same("/dev/stdout")},
    {"255-character log name and its .csv", "\"$Q\" -log " + n255 + " -out " + n255 + ".csv",
     "-out file name is longer than 255 characters.\n", nullptr,
     [](const TempDir& t) { fs::copy_file(t.path("redo.log"), t.path(n255)); return -1; }},
    {"exclusive lock", kRun + "out.csv", "open out.csv: another run is writing it\n" + kFail, nullptr,
     [](const TempDir& t) { return theirs(t, LOCK_EX); }},
    {"shared lock", kRun + "out.csv", "open out.csv: another run is writing it\n" + kFail, nullptr,
     [](const TempDir& t) { return theirs(t, LOCK_SH); }},
    {"lock let go", kRun + "out.csv", kEnd, "out.csv", [](const TempDir& t) { return theirs(t, LOCK_EX, true); }},
    {"/dev/null locked by another run", kRun + "/dev/null", kEnd, nullptr,
     [](const TempDir&) { return lock("/dev/null", LOCK_EX); }},
    {"/dev/stdout into a file", kRun + "/dev/stdout >stdout.txt", kEnd, "stdout.txt"},
    {"FIFO", "cat fifo >fifo.txt & " + kRun + "fifo; s=$?; wait; exit $s", kEnd, "fifo.txt",
     [](const TempDir& t) { return mkfifo(t.path("fifo").c_str(), 0600) == 0 ? -1 : throw std::runtime_error("mkfifo failed"); }},
    {"longer file", kRun + "out.csv", kEnd, "out.csv",
     [](const TempDir& t) { LogBuilder::write_file(t.path("out.csv"), Bytes(10000, 'x')); return -1; }},
};

}  // namespace

TEST(OutputFile, RefusedOrWritten)
{
    setenv("Q", QUORVIL_BIN, 1);
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        TempDir t, e;
        LogBuilder lb;
        lb.add(10, {v_begin({2, 5, 77})});
        lb.add(11, {v_commit({2, 5, 77})});
        lb.write(t.path("redo.log"));
        const int fd = c.prepare(t);
        const auto before = snapshot(t);
        // standard error goes to a file of another folder
        const int st = std::system(("cd '" + t.dir() + "' && { " + c.cmd + " ; } 2>'" + e.path("err") + "'").c_str());
        if (fd >= 0)
            close(fd);
        EXPECT_EQ(WIFEXITED(st) ? WEXITSTATUS(st) : -1, c.err == kEnd ? 0 : 255);
        EXPECT_EQ(after_banner(read_file(e.path("err"))), c.err);
        if (c.err != kEnd) {
            EXPECT_EQ(snapshot(t), before);
        }
        if (c.written) {
            EXPECT_EQ(read_file(t.path(c.written)), kCsv);
        }
    }
}
