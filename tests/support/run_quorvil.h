/*
 * run_quorvil.h - runs the real quorvil binary as a child process and
 * captures what a user would see: the exit status, standard error, and the
 * CSV file it wrote.
 */
#ifndef QV_RUN_QUORVIL_H
#define QV_RUN_QUORVIL_H

#include <string>
#include <vector>

namespace qvtest {

struct RunResult {
    int status = -1;          // exit status, or 128 + signal when killed
    std::string err;          // everything written to standard error
    std::string out;          // everything written to standard output
};

// Runs quorvil with args (argv[0] is added), in directory cwd when not empty.
RunResult run_quorvil(const std::vector<std::string> &args, const std::string &cwd = "");

// The same for any program: bin is run with args, in cwd when not empty.
RunResult run_program(const std::string &bin, const std::vector<std::string> &args,
                      const std::string &cwd = "");

// The banner every run starts with.
std::string banner();

// Standard error with the banner taken off the front; empty when it is not there.
std::string after_banner(const std::string &err);

std::string read_file(const std::string &path);
bool file_exists(const std::string &path);

}  // namespace qvtest

#endif
