/*
 * replay_main.cpp - a plain main for builds without libFuzzer: feeds every
 * file named on the command line, and every file under every directory
 * named, to LLVMFuzzerTestOneInput once, in name order.
 *
 * Standard error of the target goes to /dev/null (a whole run writes its
 * banner every time); the replay's own lines and sanitizer reports go to the
 * original standard error.
 */
#include <sanitizer/common_interface_defs.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

int main(int argc, char **argv)
{
    std::vector<std::string> files;

    for (int i = 1; i < argc; i++) {
        if (fs::is_directory(argv[i])) {
            for (const auto &e : fs::recursive_directory_iterator(argv[i]))
                if (e.is_regular_file())
                    files.push_back(e.path().string());
        } else {
            files.push_back(argv[i]);
        }
    }
    std::sort(files.begin(), files.end());

    int saved = dup(STDERR_FILENO);
    FILE *out = saved >= 0 ? fdopen(saved, "w") : stderr;
    int null_fd = open("/dev/null", O_WRONLY);
    if (saved >= 0 && null_fd >= 0) {
        __sanitizer_set_report_fd(reinterpret_cast<void *>(static_cast<intptr_t>(saved)));
        dup2(null_fd, STDERR_FILENO);
        close(null_fd);
    }

    for (const std::string &f : files) {
        std::ifstream in(f, std::ios::binary);
        if (!in) {
            fprintf(out, "replay: cannot read %s\n", f.c_str());
            return 1;
        }
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        fprintf(out, "replay: %s (%zu bytes)\n", f.c_str(), bytes.size());
        fflush(out);
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    fprintf(out, "replay: %zu inputs, no finding\n", files.size());
    return 0;
}
