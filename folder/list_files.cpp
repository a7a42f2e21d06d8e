/*
 * list_files.cpp - list_files: the files a job is given.  A folder stands
 * for the files in it (not its subfolders, and not the job's own output,
 * its SQLite side files or the folders quorvil-folder mines into), in name
 * order; a file stands for itself.  Returns -1 when an argument cannot be
 * read, having said so.
 */
#include "quorvil_folder.h"

#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <sys/stat.h>

/* Is name in dir the job's output, or one of the files SQLite or the job keep beside it? */
static bool is_own_file(const std::string &path, const std::string &name, const char *out, const struct stat *ost)
{
    struct stat st;
    const std::string base = strrchr(out, '/') ? strrchr(out, '/') + 1 : out;

    if (ost != NULL && stat(path.c_str(), &st) == 0 && st.st_dev == ost->st_dev && st.st_ino == ost->st_ino)
        return true;
    for (const char *side : {"-journal", "-wal", "-shm", ".part"})
        if (name == base + side)
            return true;
    return false;
}

int list_files(char **args, int n, const char *out, std::vector<std::string> *files)
{
    struct stat ost, st;
    const bool out_exists = stat(out, &ost) == 0;

    for (int i = 0; i < n; i++) {
        const char *arg = args[i];

        if (stat(arg, &st) != 0 || !S_ISDIR(st.st_mode)) {
            files->push_back(arg);   // judged as quorvil-info judges it, missing or not
            continue;
        }
        DIR *d = opendir(arg);
        if (d == NULL) {
            fprintf(stderr, "open folder %s: %s\n", arg, strerror(errno));
            return -1;
        }
        std::vector<std::string> names;
        struct dirent *e;
        errno = 0;
        while ((e = readdir(d)) != NULL) {
            std::string name = e->d_name;
            std::string path = std::string(arg) + (arg[strlen(arg) - 1] == '/' ? "" : "/") + name;

            if (name == "." || name == ".." || name.rfind(".quorvil-folder-", 0) == 0)
                continue;
            // subfolders are not entered
            if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
                continue;
            if (is_own_file(path, name, out, out_exists ? &ost : NULL))
                continue;
            names.push_back(path);
        }
        if (errno != 0) {
            fprintf(stderr, "read folder %s: %s\n", arg, strerror(errno));
            closedir(d);
            return -1;
        }
        closedir(d);
        std::sort(names.begin(), names.end());
        files->insert(files->end(), names.begin(), names.end());
    }
    return 0;
}
