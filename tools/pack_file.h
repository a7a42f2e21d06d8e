/*
 * pack_file.h - compresses a file in place with one of the four formats
 * quorvil reads (gzip, zstd, xz, bzip2), through their libraries.
 */
#ifndef QVGEN_PACK_FILE_H
#define QVGEN_PACK_FILE_H

#include <string>

enum class PackKind { GZIP, ZSTD, XZ, BZIP2 };

struct Packing {
    const char* name;  // as given to --compress, and the file's new suffix
    PackKind kind;
};

// The format named gz, zst, xz or bz2; nullptr for any other name.
const Packing* packing_named(const std::string& name);

// Writes path + "." + p.name compressed from path, then removes path.
// Throws std::runtime_error on a system or library error, leaving path as it was.
void pack_file(const std::string& path, const Packing& p);

#endif
