/*
 * mine_logs.cpp - mine_logs: runs quorvil on each log to mine, job->jobs
 * at a time, each into a CSV and a message file of its own in the job's
 * temporary folder, and hands the logs to the output in their order as
 * soon as each and all before it are mined: loaded into the database or
 * appended to the CSV, then its files removed.  At most twice as many logs
 * as run at a time wait mined but not yet handed on, so the temporary
 * folder stays small whatever the number of logs.
 * Returns -1 when quorvil could not be started at all, having said so; a
 * log that could not be loaded is marked FL_FAILED.
 */
#include "quorvil_folder.h"

#include <cerrno>
#include <fcntl.h>
#include <map>
#include <sys/wait.h>
#include <unistd.h>

/* Starts quorvil on fl; its pid, or -1. */
static pid_t start(FOLDER_JOB *job, FOLDER_LOG *fl, size_t k)
{
    fl->csv_path = job->tmpdir + "/" + std::to_string(k) + ".csv";
    fl->err_path = job->tmpdir + "/" + std::to_string(k) + ".err";
    const char *argv[] = {"quorvil", "-log", fl->li.file, "-out", fl->csv_path.c_str(), NULL};
    int err = open(fl->err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);

    if (err < 0) {
        fprintf(stderr, "open %s: %s\n", fl->err_path.c_str(), strerror(errno));
        return -1;
    }
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        if (null < 0 || dup2(null, STDIN_FILENO) < 0 || dup2(null, STDOUT_FILENO) < 0 ||
            dup2(err, STDERR_FILENO) < 0)
            _exit(127);
        execv(job->quorvil.c_str(), (char *const *)argv);
        dprintf(STDERR_FILENO, "run %s: %s\n", job->quorvil.c_str(), strerror(errno));
        _exit(127);
    }
    if (pid < 0)
        fprintf(stderr, "run %s: %s\n", job->quorvil.c_str(), strerror(errno));
    close(err);
    return pid;
}

/* Loads or appends fl, then removes its files. */
static void hand_on(FOLDER_JOB *job, FOLDER_LOG *fl)
{
    read_messages(fl);
    // a quorvil that could not run or was killed left nothing to trust
    if (fl->status == 127 || fl->signal != 0)
        fl->state = FL_FAILED;
    else if ((job->to_db ? load_db(job, fl) : append_csv(job, fl)) != 0)
        fl->state = FL_FAILED;
    else
        fl->state = FL_LOADED;
    unlink(fl->csv_path.c_str());
    unlink(fl->err_path.c_str());
    print_log(fl);
    fflush(stdout);
}

int mine_logs(FOLDER_JOB *job, std::vector<FOLDER_LOG *> &todo)
{
    std::map<pid_t, size_t> running;
    std::vector<bool> done(todo.size(), false);
    size_t started = 0, handed = 0;
    int rc = 0;

    while (handed < todo.size()) {
        while (rc == 0 && (int)running.size() < job->jobs && started < todo.size() &&
               started - handed < 2 * (size_t)job->jobs) {
            pid_t pid = start(job, todo[started], started);
            if (pid < 0) {
                rc = -1;
                break;
            }
            running[pid] = started++;
        }
        if (handed < started && done[handed]) {
            hand_on(job, todo[handed++]);
            continue;
        }
        if (running.empty())
            break;   // quorvil could not be started: the logs after are not mined
        int ws;
        pid_t pid = waitpid(-1, &ws, 0);
        if (pid < 0) {
            if (errno == EINTR)
                continue;
            fprintf(stderr, "wait for quorvil: %s\n", strerror(errno));
            return -1;
        }
        auto it = running.find(pid);
        if (it == running.end())
            continue;
        FOLDER_LOG *fl = todo[it->second];
        fl->status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
        fl->signal = WIFSIGNALED(ws) ? WTERMSIG(ws) : 0;
        done[it->second] = true;
        running.erase(it);
    }
    return rc;
}
