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
#include <string>

using namespace qvtest;
namespace fs = std::filesystem;

namespace {

const std::string kCsv = kCsvHeader +
                         "10,2,5,77,0,0,,START,set transaction read write;\n"
                         "11,2,5,77,0,0,,COMMIT,commit;\n";
const std::string n255(255, 'L');

// Every regular file of the folder (links followed) and its bytes.
std::map<std::string, std::string> snapshot(const TempDir& t)
{
    std::map<std::string, std::string> files;
    for (const auto& e : fs::directory_iterator(t.dir()))
        if (e.is_regular_file())
            files[e.path().filename()] = read_file(e.path());
    return files;
}

// Runs a shell command in a folder holding the log as redo.log; $Q is the
// program.  Standard error goes to a file of another folder.
Mined run_sh(const TempDir& t, const std::string& body)
{
    TempDir e;
    setenv("Q", QUORVIL_BIN, 1);
    const std::string cmd = "cd '" + t.dir() + "' && { " + body + " ; } 2>'" + e.path("err") + "'";
    const int st = std::system(cmd.c_str());
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, after_banner(read_file(e.path("err"))), "", false};
}

// Opens a file and takes a lock on it the way another run would.
int hold_lock(const std::string& path, int op)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0 && flock(fd, op) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void write_log(const TempDir& t)
{
    LogBuilder lb;
    lb.add(10, {v_begin({2, 5, 77})});
    lb.add(11, {v_commit({2, 5, 77})});
    lb.write(t.path("redo.log"));
}

struct Case {
    const char* name;
    std::function<void(const TempDir&)> prepare;
    std::string cmd;
    std::string err;
};

}  // namespace

// Every way the output can name the log is refused before a byte is written:
// each file of the folder, the log first, is as it was.
TEST(OutputFile, NeverTheLog)
{
    auto same = [](const std::string& out) { return "open " + out + ": it is the log redo.log itself; nothing written\n" + kFail; };
    const Case cases[] = {
        {"same name", nullptr, "\"$Q\" -log redo.log -out redo.log", same("redo.log")},
        {"another path", nullptr, "\"$Q\" -log redo.log -out ./redo.log", same("./redo.log")},
        {"symbolic link", [](const TempDir& t) { fs::create_symlink("redo.log", t.path("link.csv")); },
         "\"$Q\" -log redo.log -out link.csv", same("link.csv")},
        {"hard link", [](const TempDir& t) { fs::create_hard_link(t.path("redo.log"), t.path("hard.csv")); },
         "\"$Q\" -log redo.log -out hard.csv", same("hard.csv")},
        {"standard output closed", nullptr, "\"$Q\" -log redo.log -out /dev/stdout >&-", same("/dev/stdout")},
        {"255-character log name and its .csv",
         [](const TempDir& t) { fs::copy_file(t.path("redo.log"), t.path(n255)); },
         "\"$Q\" -log " + n255 + " -out " + n255 + ".csv", "-out file name is longer than 255 characters.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir t;
        write_log(t);
        if (c.prepare)
            c.prepare(t);
        const auto before = snapshot(t);
        Mined m = run_sh(t, c.cmd);
        EXPECT_EQ(m.status, 255);
        EXPECT_EQ(m.err, c.err);
        EXPECT_EQ(snapshot(t), before);
    }
}

// A lock on the output, exclusive or shared, means another run has it: the
// run is refused and the file keeps the other run's lines.
TEST(OutputFile, OneWriterAtATime)
{
    const std::string theirs = "lines of the run that holds the file\n";
    const struct {
        const char* name;
        int op;
        bool held;
    } cases[] = {{"exclusive lock", LOCK_EX, true}, {"shared lock", LOCK_SH, true}, {"lock let go", LOCK_UN, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir t;
        write_log(t);
        LogBuilder::write_file(t.path("out.csv"), Bytes(theirs.begin(), theirs.end()));
        const int fd = hold_lock(t.path("out.csv"), c.op == LOCK_UN ? LOCK_EX : c.op);
        ASSERT_GE(fd, 0);
        if (!c.held)
            flock(fd, LOCK_UN);
        Mined m = run_sh(t, "\"$Q\" -log redo.log -out out.csv");
        close(fd);
        EXPECT_EQ(m.status, c.held ? 255 : 0);
        EXPECT_EQ(m.err, c.held ? "open out.csv: another run is writing it\n" + kFail : kEnd);
        EXPECT_EQ(read_file(t.path("out.csv")), c.held ? theirs : kCsv);
    }
}

// Outputs that are not the log still take the CSV: /dev/null even while
// another holds a lock on it, standard output, a FIFO, and a longer file,
// which is emptied first.
TEST(OutputFile, OtherOutputsStillWritten)
{
    const struct {
        const char* name;
        std::function<int(const TempDir&)> prepare;  // a descriptor to close after the run, -1, or -2 on failure
        std::string cmd;
        const char* written;  // the file that must hold the CSV, if any
    } cases[] = {
        {"/dev/null locked by another run", [](const TempDir&) {
             const int fd = hold_lock("/dev/null", LOCK_EX);
             return fd < 0 ? -2 : fd;
         },
         "\"$Q\" -log redo.log -out /dev/null", nullptr},
        {"/dev/stdout into a file", nullptr, "\"$Q\" -log redo.log -out /dev/stdout >stdout.txt", "stdout.txt"},
        {"FIFO",
         [](const TempDir& t) { return mkfifo(t.path("fifo").c_str(), 0600) == 0 ? -1 : -2; },
         "cat fifo >fifo.txt & \"$Q\" -log redo.log -out fifo; s=$?; wait; exit $s", "fifo.txt"},
        {"longer file",
         [](const TempDir& t) {
             LogBuilder::write_file(t.path("out.csv"), Bytes(10000, 'x'));
             return -1;
         },
         "\"$Q\" -log redo.log -out out.csv", "out.csv"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir t;
        write_log(t);
        const int fd = c.prepare ? c.prepare(t) : -1;
        ASSERT_NE(fd, -2);
        Mined m = run_sh(t, c.cmd);
        if (fd >= 0)
            close(fd);
        EXPECT_EQ(m.status, 0);
        EXPECT_EQ(m.err, kEnd);
        if (c.written) {
            EXPECT_EQ(read_file(t.path(c.written)), kCsv);
        }
    }
}
