/*
 * csv_reader.h - a small, strict reader of RFC 4180 CSV text for the tests:
 * fields separated by commas, records ended by LF or CRLF, quoted fields
 * that may hold commas, line breaks and doubled double quotes.
 *
 *   std::optional<CsvRows> read_csv(std::string_view text);
 *
 * Returns the records as rows of unquoted fields, or nullopt when the text is
 * not well-formed CSV: a quoted field that is never closed, text between a
 * closing quote and the next separator, a double quote or a bare CR inside
 * an unquoted field.  A last record without a line end is still a record;
 * empty text has no records.
 */
#ifndef QVTEST_CSV_READER_H
#define QVTEST_CSV_READER_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qvtest {

using CsvRow = std::vector<std::string>;
using CsvRows = std::vector<CsvRow>;

inline std::optional<CsvRows> read_csv(std::string_view s)
{
    CsvRows rows;
    size_t i = 0;
    const size_t n = s.size();

    while (i < n) {
        CsvRow row;
        for (;;) {
            std::string field;
            if (i < n && s[i] == '"') {
                for (++i;;) {
                    // quoted field never closed
                    if (i >= n)
                        return std::nullopt;
                    if (s[i] == '"') {
                        if (i + 1 < n && s[i + 1] == '"') {
                            field += '"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    field += s[i++];
                }
            } else {
                while (i < n && s[i] != ',' && s[i] != '\n' && s[i] != '\r') {
                    // a double quote may only stand in a quoted field
                    if (s[i] == '"')
                        return std::nullopt;
                    field += s[i++];
                }
            }
            row.push_back(std::move(field));
            if (i >= n)
                break;
            if (s[i] == ',') {
                ++i;
                continue;
            }
            if (s[i] == '\n') {
                ++i;
                break;
            }
            if (s[i] == '\r' && i + 1 < n && s[i + 1] == '\n') {
                i += 2;
                break;
            }
            // text after a closing quote, or a CR without its LF
            return std::nullopt;
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace qvtest

#endif
