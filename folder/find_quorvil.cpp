/*
 * find_quorvil.cpp - find_quorvil: the quorvil program that mines the logs:
 * the one beside quorvil-folder's own executable (so a build tree and an
 * installation each use their own), else the first on PATH.  Returns -1
 * when there is none, having said so.
 */
#include "quorvil_folder.h"

#include <climits>
#include <unistd.h>

static bool runnable(const std::string &path)
{
    return access(path.c_str(), X_OK) == 0;
}

int find_quorvil(std::string *path)
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);

    if (n > 0) {
        self[n] = '\0';
        char *slash = strrchr(self, '/');
        if (slash != NULL) {
            *path = std::string(self, (size_t)(slash - self)) + "/quorvil";
            if (runnable(*path))
                return 0;
        }
    }
    const char *env = getenv("PATH");
    std::string dirs = env != NULL ? env : "";
    size_t at = 0;
    while (at <= dirs.size() && !dirs.empty()) {
        size_t colon = std::min(dirs.find(':', at), dirs.size());
        std::string dir = dirs.substr(at, colon - at);
        *path = (dir.empty() ? "." : dir) + "/quorvil";
        if (runnable(*path))
            return 0;
        at = colon + 1;
    }
    fprintf(stderr, "find quorvil: not beside this program nor on PATH; nothing mined\n");
    return -1;
}
