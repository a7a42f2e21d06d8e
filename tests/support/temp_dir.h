/*
 * temp_dir.h - a temporary directory for one test, removed with everything
 * in it when the object goes away.  Created under $TMPDIR (or /tmp).
 */
#ifndef QVTEST_TEMP_DIR_H
#define QVTEST_TEMP_DIR_H

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

namespace qvtest {

class TempDir {
public:
    TempDir()
    {
        const char* base = std::getenv("TMPDIR");
        std::string tmpl = std::string(base && *base ? base : "/tmp") + "/quorvil-test-XXXXXX";
        std::vector<char> buf(tmpl.begin(), tmpl.end());
        buf.push_back('\0');
        if (!::mkdtemp(buf.data()))
            throw std::runtime_error("mkdtemp " + tmpl + ": " + std::strerror(errno));
        dir_ = buf.data();
    }
    ~TempDir()
    {
        std::error_code ec;  // best effort; never throw from here
        std::filesystem::remove_all(dir_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& dir() const { return dir_; }
    // The path of `name` inside the directory.
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

private:
    std::string dir_;
};

}  // namespace qvtest

#endif
