/*
 * fuzz_record.cpp - fuzz target for parse_record: one assembled record,
 * decoded with every handler live.
 *
 * Input: one mode byte, then the record.  Mode bit 0 clear: rlen is set to
 * the record's size, as record assembly always hands it on.  Bit 0 set: rlen
 * is kept as the input has it, so lengths shorter than a header reach the
 * dispatcher too; an rlen past the input is dropped, since assembly never
 * hands on fewer bytes than rlen.  The record is copied into a heap buffer
 * of exactly its size, so any read past it is caught by AddressSanitizer.
 * The CSV text the record writes must be whole lines of nine fields, with
 * numbers where numbers belong: no record can make a line that a CSV
 * reader would split or join differently.
 */
#include "quorvil.h"

#include <cstdlib>
#include <string_view>

#define MODE_KEEP_RLEN 0x01

/* A run context set up the way main sets it up; each input gets its own CSV stream. */
static MINER *fuzz_miner(void)
{
    static bool ready;
    MINER *mnr = &miner;

    if (!ready) {
        memset(mnr, 0, sizeof *mnr);
        mnr->wrk = (uint8_t *)malloc(WORK_SIZE);
        if (mnr->wrk == NULL)
            abort();
        split_work_area(mnr);
        mnr->fd = -1;
        mnr->blk0_sz = 512;
        mnr->blk_sz = 512;
        mnr->start_scn = 0;
        mnr->end_scn = MAX_SCN;
        mnr->first_scn = 0;
        strcpy(mnr->logfile, "fuzz-record");
        ready = true;
    }
    return mnr;
}

static bool is_number(std::string_view f)
{
    if (!f.empty() && f[0] == '-')
        f.remove_prefix(1);
    if (f.empty())
        return false;
    for (char c : f)
        if (c < '0' || c > '9')
            return false;
    return true;
}

/* Are the n bytes at s CSV lines of nine fields each, the first six numbers
 * and the eighth an operation name? */
static bool csv_lines_ok(const char *s, size_t n)
{
    static const std::string_view ops[] = {"START", "COMMIT", "ROLLBACK", "INSERT", "DELETE", "UPDATE", "DDL"};
    size_t i = 0;

    while (i < n) {
        std::string_view field[9];
        unsigned nf = 0;

        for (;;) {
            size_t b = i;

            if (nf == 9)
                return false;
            if (s[i] == '"') {
                for (i++;; i++) {
                    if (i >= n)
                        return false;
                    if (s[i] == '"') {
                        if (i + 1 < n && s[i + 1] == '"') {
                            i++;
                            continue;
                        }
                        i++;
                        break;
                    }
                }
            } else {
                for (; i < n && s[i] != ',' && s[i] != '\n'; i++)
                    if (s[i] == '"' || s[i] == '\r')
                        return false;
            }
            field[nf++] = std::string_view(s + b, i - b);
            // every line ends with a newline, and a field with a comma or the newline
            if (i >= n)
                return false;
            if (s[i++] == '\n')
                break;
            if (s[i - 1] != ',')
                return false;
        }
        if (nf != 9)
            return false;
        for (unsigned k = 0; k < 6; k++)
            if (!is_number(field[k]))
                return false;
        bool known = false;
        for (auto op : ops)
            known = known || field[7] == op;
        if (!known)
            return false;
    }
    return true;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MINER *mnr = fuzz_miner();
    uint8_t mode;
    uint8_t *rec;
    size_t len;

    if (size < 1 + RECORD_HEADER_SIZE || size - 1 > 0x7fffffff)
        return 0;
    mode = data[0];
    len = size - 1;
    if ((mode & MODE_KEEP_RLEN) && read_u32(data + 1) > len)
        return 0;

    rec = (uint8_t *)malloc(len);
    if (rec == NULL)
        abort();
    memcpy(rec, data + 1, len);
    if (!(mode & MODE_KEEP_RLEN)) {
        uint32_t rlen = (uint32_t)len;
        memcpy(rec, &rlen, sizeof rlen);
    }

    char *csv = NULL;
    size_t csv_len = 0;
    mnr->cfp = open_memstream(&csv, &csv_len);
    if (mnr->cfp == NULL)
        abort();

    mnr->rec_blk = 2;
    int r = parse_record(mnr, rec);
    // the dispatcher answers 0 (decoded or passed over) or -1 (stop)
    if (r != 0 && r != -1)
        abort();
    // no line may be left half-staged past the SQL buffer
    if (mnr->sql_pos > (uint32_t)mnr->sqlb_sz)
        abort();
    sql_flush(mnr);
    fclose(mnr->cfp);
    mnr->cfp = NULL;
    if (!csv_lines_ok(csv, csv_len))
        abort();
    free(csv);
    free(rec);
    return 0;
}
