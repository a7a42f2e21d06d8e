/*
 * run_quorvil.cpp - fork/exec of the quorvil binary with pipes for standard
 * output and error, read until both close, then waitpid.
 */
#include "run_quorvil.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef QUORVIL_BIN
#error "QUORVIL_BIN must name the quorvil binary"
#endif

namespace qvtest {

RunResult run_quorvil(const std::vector<std::string> &args, const std::string &cwd)
{
    return run_program(QUORVIL_BIN, args, cwd);
}

RunResult run_program(const std::string &bin, const std::vector<std::string> &args, const std::string &cwd)
{
    int errp[2], outp[2];
    if (pipe(errp) != 0 || pipe(outp) != 0)
        throw std::runtime_error("pipe failed");

    std::vector<std::string> all;
    all.push_back(bin);
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (auto &a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        dup2(errp[1], STDERR_FILENO);
        dup2(outp[1], STDOUT_FILENO);
        int devnull = open("/dev/null", O_RDONLY);
        if (devnull >= 0)
            dup2(devnull, STDIN_FILENO);
        close(errp[0]);
        close(errp[1]);
        close(outp[0]);
        close(outp[1]);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(127);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(errp[1]);
    close(outp[1]);

    RunResult r;
    struct pollfd fds[2] = {{errp[0], POLLIN, 0}, {outp[0], POLLIN, 0}};
    int open_fds = 2;
    char buf[65536];
    while (open_fds > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int i = 0; i < 2; i++) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? r.err : r.out).append(buf, (size_t)n);
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                open_fds--;
            }
        }
    }
    int st = 0;
    while (waitpid(pid, &st, 0) < 0 && errno == EINTR) {
    }
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
    return r;
}

std::string banner()
{
    return "\nquorvil " QUORVIL_VERSION ": offline reader of redo log files\n\n"
           "Copyright (c) 2026 The quorvil developers. All rights reserved.\n\n";
}

std::string after_banner(const std::string &err)
{
    std::string b = banner();
    if (err.compare(0, b.size(), b) != 0)
        return "";
    return err.substr(b.size());
}

std::string read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool file_exists(const std::string &path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

}  // namespace qvtest
