/*
 * read_messages.cpp - read_messages: what quorvil wrote on standard error
 * while it mined a log: the title line of its banner, which names the
 * program and its version, and every line after the banner (its messages
 * and its closing line).  At most MESSAGES_KEPT bytes are kept.
 */
#include "quorvil_folder.h"

#define MESSAGES_KEPT (64 * 1024)

void read_messages(FOLDER_LOG *fl)
{
    FILE *f = fopen(fl->err_path.c_str(), "rb");
    std::string text;
    char buf[4096];
    size_t n;

    fl->version.clear();
    fl->messages.clear();
    if (f == NULL)
        return;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0 && text.size() < MESSAGES_KEPT)
        text.append(buf, n);
    fclose(f);
    if (text.size() > MESSAGES_KEPT)
        text.resize(MESSAGES_KEPT);

    // the banner: a blank line, the title, a blank line, the copyright, a blank line
    size_t at = 0;
    int blanks = 0;
    while (at < text.size() && blanks < 3) {
        size_t nl = text.find('\n', at);
        if (nl == std::string::npos)
            nl = text.size();
        std::string line = text.substr(at, nl - at);
        if (line.empty())
            blanks++;
        else if (fl->version.empty())
            fl->version = line;
        at = nl + 1;
    }
    if (blanks < 3) {
        // no banner: quorvil did not get as far, or this is not the quorvil we know
        fl->messages = text;
        return;
    }
    fl->messages = at < text.size() ? text.substr(at) : "";
}
