/*
 * fuzz_decode.cpp - fuzz target for quorvil-decode: input lines and the
 * dictionary (and parameters) it decodes them with.
 *
 * The input is split at the first line "#DICT#": what comes before is the
 * CSV to decode, what comes after the dictionary; a line "#NLS#" in the
 * dictionary part starts the parameters.  Without "#DICT#" the whole input
 * is CSV and the dictionary is a header line alone.  A dictionary or
 * parameters that are refused end the case, as they end a run.  The CSV is
 * read from one memory file and written to another, through the same
 * decode_stream as the program, and the output must stay within
 * output_bound (decode_stream.cpp) of the input:
 *
 *   out <= (2F + 1) * in + 3 * lines,  F = max(8, T / 6 + 2, (90 + Z) / 26 + 1)
 *
 * with T the longest name token of the dictionary and Z the length of the
 * DBTIMEZONE text.  Each case is decoded twice, statements read through
 * their shapes and not, and a third time by the AVX2 build where the
 * processor has AVX2: all runs must write the same bytes and counts.
 */
#include "quorvil_decode.h"

#include <cstdlib>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>

static int in_fd = -1, out_fd = -1;

/* Decodes csv with the dictionary (and parameters) given, by stream,
 * statements read through shapes or not, into *out; false when the
 * dictionary or the parameters are refused. */
static bool decode(std::string_view csv, std::string_view dict, std::string_view nls, bool have_nls,
                   int (*stream)(DECODER *), bool no_shapes, std::string *out, uint64_t counts[3])
{
    DECODER *dc = new DECODER{};
    for (TEXT_CONV &tc : dc->conv)
        tc = {NULL, (iconv_t)-1, false};
    if (load_dict(&dc->dict, dict.data(), dict.size(), "dict") < 0 ||
        (have_nls ? load_nls(dc, nls.data(), nls.size(), "nls") : set_charsets(dc, "AL32UTF8", "AL16UTF16", "")) < 0) {
        close_charsets(dc);
        delete dc;
        return false;
    }
    if (ftruncate(in_fd, 0) != 0 || ftruncate(out_fd, 0) != 0 || pwrite(in_fd, csv.data(), csv.size(), 0) !=
                                                                       (ssize_t)csv.size() ||
        lseek(in_fd, 0, SEEK_SET) != 0 || lseek(out_fd, 0, SEEK_SET) != 0)
        abort();
    dc->no_shapes = no_shapes;
    dc->in_fd = in_fd;
    dc->in_name = "in";
    dc->out_fd = out_fd;
    dc->out_name = "out";
    if (stream(dc) != 0)
        abort();
    uint64_t lines = 1;
    for (char c : csv)
        lines += c == '\n';
    // every line is read and written, and no more than the bound
    if (dc->lines > lines || dc->decoded + dc->unknown_obj + dc->passed != dc->lines ||
        dc->out_bytes > output_bound(dc, csv.size(), lines) || lseek(out_fd, 0, SEEK_END) != (off_t)dc->out_bytes)
        abort();
    out->resize(dc->out_bytes);
    if (pread(out_fd, out->data(), out->size(), 0) != (ssize_t)out->size())
        abort();
    counts[0] = dc->decoded;
    counts[1] = dc->hex_values;
    counts[2] = dc->passed;
    close_charsets(dc);
    delete dc;
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::string_view all((const char *)data, size), csv = all, dict = "OBJECT_ID,OWNER,TABLE_NAME,"
                                                                      "SEGMENT_COLUMN_ID,COLUMN_NAME,DATA_TYPE\n";
    std::string_view nls;
    bool have_nls = false;

    if (in_fd < 0) {
        in_fd = memfd_create("quorvil-decode-fuzz-in", 0);
        out_fd = memfd_create("quorvil-decode-fuzz-out", 0);
        if (in_fd < 0 || out_fd < 0)
            abort();
    }
    size_t cut = all.find("#DICT#\n");
    if (cut != std::string_view::npos) {
        csv = all.substr(0, cut);
        dict = all.substr(cut + 7);
        size_t n = dict.find("#NLS#\n");
        if (n != std::string_view::npos) {
            nls = dict.substr(n + 6);
            dict = dict.substr(0, n);
            have_nls = true;
        }
    }

    // statements read through shapes are written as they are without, and
    // the AVX2 build writes what the other does
    std::string with, other;
    uint64_t cw[3], co[3];
    if (!decode(csv, dict, nls, have_nls, decode_stream, false, &with, cw))
        return 0;
    if (!decode(csv, dict, nls, have_nls, decode_stream, true, &other, co) || with != other ||
        memcmp(cw, co, sizeof cw) != 0)
        abort();
#ifdef QUORVIL_DECODE_AVX2
    if (avx2_runs() &&
        (!decode(csv, dict, nls, have_nls, isa_avx2::decode_stream, false, &other, co) || with != other ||
         memcmp(cw, co, sizeof cw) != 0))
        abort();
#endif
    return 0;
}
