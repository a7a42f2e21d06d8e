// print_hex: a column value as a hex literal, HEXTORAW('..') or '..', two
// lower-case digits a byte, a NUL after the text, and the text's length as
// the result.  Expected text is built here from its own digit table.
#include "quorvil.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

namespace {

constexpr char kCanary = 0x5a;

std::string digits(const std::vector<uint8_t>& bytes)
{
    static const char d[] = "0123456789abcdef";
    std::string s;
    for (uint8_t b : bytes) {
        s += d[b >> 4];
        s += d[b & 15];
    }
    return s;
}

std::string literal(const std::vector<uint8_t>& bytes, bool full_col)
{
    return full_col ? "HEXTORAW('" + digits(bytes) + "')" : "'" + digits(bytes) + "'";
}

// Runs print_hex into a buffer filled with a canary and checks the text, the
// result, the NUL after the text and that nothing past the NUL was touched.
void expect_printed(const std::vector<uint8_t>& bytes, int len, bool full_col, const std::string& want)
{
    std::vector<char> buf(want.size() + 16, kCanary);
    int r = print_hex(buf.data(), bytes.data(), len, full_col ? 1 : 0);

    ASSERT_EQ(r, static_cast<int>(want.size()));
    EXPECT_EQ(std::string(buf.data(), want.size()), want);
    EXPECT_EQ(buf[want.size()], '\0');
    for (size_t i = want.size() + 1; i < buf.size(); i++)
        ASSERT_EQ(buf[i], kCanary) << "byte " << i << " written past the NUL";
}

struct Fixed {
    const char* name;
    std::vector<uint8_t> bytes;
    int len;
    int full_col;
    const char* want;
};

// Failure messages name the case instead of dumping its bytes.
void PrintTo(const Fixed& c, std::ostream* os) { *os << c.name; }

class PrintHexFixed : public testing::TestWithParam<Fixed> {};

TEST_P(PrintHexFixed, WritesLiteral)
{
    const Fixed& c = GetParam();
    expect_printed(c.bytes, c.len, c.full_col != 0, c.want);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PrintHexFixed,
    testing::Values(Fixed{"empty_full", {}, 0, 1, "HEXTORAW('')"},
                    Fixed{"empty_plain", {}, 0, 0, "''"},
                    Fixed{"negative_length_full", {0xab}, -1, 1, "HEXTORAW('')"},
                    Fixed{"negative_length_plain", {0xab}, -5, 0, "''"},
                    Fixed{"one_byte_full", {0xc1}, 1, 1, "HEXTORAW('c1')"},
                    Fixed{"one_byte_plain", {0x07}, 1, 0, "'07'"},
                    Fixed{"high_bytes_full", {0x7f, 0x80, 0xab, 0xff, 0x00}, 5, 1, "HEXTORAW('7f80abff00')"},
                    Fixed{"high_bytes_plain", {0x7f, 0x80, 0xab, 0xff, 0x00}, 5, 0, "'7f80abff00'"},
                    Fixed{"length_below_buffer", {0x01, 0x02, 0x03}, 2, 1, "HEXTORAW('0102')"},
                    Fixed{"other_full_col_value", {0xde, 0xad}, 2, 7, "HEXTORAW('dead')"}),
    [](const testing::TestParamInfo<Fixed>& i) { return std::string(i.param.name); });

// Each byte value alone, and 255 bytes of it, in both forms.
TEST(PrintHex, EveryByteValueAtLengthsOneAnd255)
{
    for (int v = 0; v < 256; v++) {
        SCOPED_TRACE("byte value " + std::to_string(v));
        std::vector<uint8_t> one{uint8_t(v)};
        std::vector<uint8_t> many(255, uint8_t(v));
        for (bool full : {true, false}) {
            expect_printed(one, 1, full, literal(one, full));
            expect_printed(many, 255, full, literal(many, full));
        }
    }
}

TEST(PrintHex, LongestColumnOf65535Bytes)
{
    std::vector<uint8_t> bytes(65535);
    for (size_t i = 0; i < bytes.size(); i++)
        bytes[i] = uint8_t(i * 131 + i / 256);
    for (bool full : {true, false}) {
        std::string want = literal(bytes, full);
        ASSERT_EQ(want.size(), (full ? 12u : 2u) + 2u * 65535u);
        expect_printed(bytes, 65535, full, want);
    }
}

// Digits are made in groups of 16, 8 and 4 bytes that may overlap: every
// length up to three groups, taken from an exactly-sized buffer so a read
// past the value is caught, must give the same text as one byte at a time.
TEST(PrintHex, EveryLengthUpTo48)
{
    for (int len = 0; len <= 48; len++) {
        std::vector<uint8_t> bytes(static_cast<size_t>(len));
        for (int i = 0; i < len; i++)
            bytes[size_t(i)] = uint8_t(i * 37 + len * 11 + 0x80);
        for (bool full : {true, false}) {
            SCOPED_TRACE("length " + std::to_string(len));
            expect_printed(bytes, len, full, literal(bytes, full));
        }
    }
}

// Callers advance by the result, so the next piece lands on the NUL.
TEST(PrintHex, PiecesChainOnTheResult)
{
    std::vector<char> buf(64, kCanary);
    std::vector<uint8_t> a{0xc1, 0x02}, b{}, c{0xff};
    int pos = 0;
    pos += print_hex(buf.data() + pos, a.data(), 2, 1);
    pos += print_hex(buf.data() + pos, b.data(), 0, 1);
    pos += print_hex(buf.data() + pos, c.data(), 1, 0);
    EXPECT_EQ(std::string(buf.data()), "HEXTORAW('c102')HEXTORAW('')'ff'");
    EXPECT_EQ(pos, 16 + 12 + 4);
}

}  // namespace

// sql_flush, which writes what print_hex and the other writers staged: a
// failed write is remembered with the errno it set, or as EIO when it set
// none -- never with an errno left from before it.
namespace {

ssize_t failing_write(void* sets, const char*, size_t)
{
    if (int e = *static_cast<int*>(sets))
        errno = e;
    return 0;
}

TEST(SqlFlush, FailedWriteReportsItsOwnErrorOrEio)
{
    const struct { int before, sets, want; } cases[] = {{ENOENT, 0, EIO}, {ENOENT, ENOSPC, ENOSPC}, {0, 0, EIO}};
    for (const auto& c : cases) {
        int sets = c.sets;
        std::vector<uint8_t> staged(64);
        MINER m{};
        m.sql_buf = staged.data();
        m.sqlb_sz = int(staged.size());
        m.cfp = fopencookie(&sets, "w", cookie_io_functions_t{nullptr, failing_write, nullptr, nullptr});
        ASSERT_NE(m.cfp, nullptr);
        setvbuf(m.cfp, nullptr, _IONBF, 0);  // the text reaches the failing write at once
        SQL_LIT(&m, "1,2,3\n");
        errno = c.before;
        sql_flush(&m);
        EXPECT_EQ(m.out_errno, c.want) << "errno before " << c.before << ", set by the write " << c.sets;
        fclose(m.cfp);
    }
}

}  // namespace
