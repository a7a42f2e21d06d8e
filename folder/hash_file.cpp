/*
 * hash_file.cpp - hash_file: the SHA-256 of a file's bytes as they lie
 * (compressed when the file is), through OpenSSL's EVP interface, as
 * lower-case hex.  Returns -1 when the file cannot be read, having said so.
 */
#include "quorvil_folder.h"

#include <cerrno>
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#define HASH_BUF_SIZE (1024 * 1024)

int hash_file(const char *path, char hex[65])
{
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int mdlen = 0;
    std::vector<unsigned char> buf(HASH_BUF_SIZE);
    int rc = -1;
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    int fd = open(path, O_RDONLY | O_CLOEXEC);

    if (fd < 0) {
        fprintf(stderr, "open %s: %s\n", path, strerror(errno));
        goto out;
    }
    if (ctx == NULL || EVP_DigestInit_ex(ctx, EVP_sha256(), NULL) != 1) {
        fprintf(stderr, "hash %s: SHA-256 cannot be started\n", path);
        goto out;
    }
    for (;;) {
        ssize_t n = read(fd, buf.data(), buf.size());

        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            fprintf(stderr, "read %s: %s\n", path, strerror(errno));
            goto out;
        }
        if (n == 0)
            break;
        if (EVP_DigestUpdate(ctx, buf.data(), (size_t)n) != 1)
            goto out;
    }
    if (EVP_DigestFinal_ex(ctx, md, &mdlen) != 1 || mdlen != 32)
        goto out;
    for (unsigned i = 0; i < mdlen; i++)
        snprintf(hex + 2 * i, 3, "%02x", md[i]);
    rc = 0;
out:
    if (fd >= 0)
        close(fd);
    EVP_MD_CTX_free(ctx);
    return rc;
}
