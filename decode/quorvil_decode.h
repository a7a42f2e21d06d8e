/*
 * quorvil_decode.h - quorvil-decode: the dictionary, the character sets, the
 * run context and the prototypes of its operations.
 *
 * quorvil-decode is a filter over quorvil's CSV: it reads the lines quorvil
 * writes and a data dictionary exported as CSV, and writes the same lines
 * with table and column names, SQL literals of each column's type and an
 * SQL_UNDO column.  Memory holds the dictionary, one input buffer, one
 * output buffer and the scratch of one line; none of it grows with the
 * number of lines.
 */
#ifndef QUORVIL_DECODE_H
#define QUORVIL_DECODE_H

#include "quorvil.h"

#include <iconv.h>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#ifdef __SSE2__
#include <immintrin.h>
#endif
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

/*
 * The AVX2 build of the line decoding (see DECODE_ISA below) compiles what
 * follows, and the file that includes this, for processors with AVX2, BMI
 * and POPCNT; its kernels take their 32-byte steps under DECODE_AVX2_BUILD.
 * (The fuzz targets' clang build gives it those on the command line.)
 * The library headers above, and the templates they define, stay for any
 * x86-64, so that whichever copy of a template the linker keeps runs
 * anywhere: the library headers those files use are all included here.
 */
#if defined(DECODE_AVX2_BUILD) && !defined(__clang__)
#pragma GCC target("avx2,bmi,bmi2,popcnt")
#endif

#define EXIT_WRITTEN 0            /* every line written */
#define EXIT_PASSED 1             /* every line written, some not in quorvil's shapes */
#define EXIT_TROUBLE 2            /* cannot run, or a read or write failed */

#define NAME_MAX_LEN 255          /* longest file name taken on the command line */
/* the fuzz targets build with smaller buffers, so that short inputs reach their ends */
#ifndef IBUF_SIZE
#define IBUF_SIZE (1024 * 1024)   /* input buffer to begin with */
#endif
#define RECORD_MAX (64u << 20)    /* a longer line is passed through unchanged, in pieces */
#ifndef OBUF_SIZE
#define OBUF_SIZE (1024 * 1024)   /* the one output buffer */
#endif
#define COLUMN_ID_MAX 65535       /* highest SEGMENT_COLUMN_ID taken */
#define WILD_SLACK 80             /* room kept past text that out_at copies (see there) */

/* What a column's bytes are read as, chosen by DATA_TYPE. */
typedef enum {
    VK_HEX,                   /* RAW, LOBs, ROWID, object types, anything unknown */
    VK_NUMBER,                /* NUMBER, FLOAT */
    VK_BFLOAT,
    VK_BDOUBLE,
    VK_DATE,
    VK_TIMESTAMP,
    VK_TSTZ,                  /* TIMESTAMP WITH TIME ZONE */
    VK_TSLTZ,                 /* TIMESTAMP WITH LOCAL TIME ZONE */
    VK_IYM,                   /* INTERVAL YEAR TO MONTH */
    VK_IDS,                   /* INTERVAL DAY TO SECOND */
    VK_CHAR,                  /* CHAR, VARCHAR2 in the database character set */
    VK_NCHAR,                 /* NCHAR, NVARCHAR2 in the national character set */
    VK_KINDS
} VALUE_KIND;

/* One piece of CSV text: a field as it sits in the line, quotes included. */
typedef struct __span {
    const char *p;
    size_t n;
} SPAN;

/* One column of a table, at its SEGMENT_COLUMN_ID. */
typedef struct __dict_column {
    uint32_t segid;           /* SEGMENT_COLUMN_ID */
    bool hidden;              /* HIDDEN_COLUMN = YES: left out of both statements */
    uint8_t kind;             /* VALUE_KIND */
    std::string name;         /* COLUMN_NAME as given */
    std::string type;         /* DATA_TYPE as given */
    std::string csname;       /* CHARACTER_SET_NAME as given */
    std::string token;        /* ""NAME"": the SQL identifier as it sits in a quoted CSV field */
    SPAN out;                 /* token, in the dictionary's names */
    uint32_t line;            /* line of the dictionary that gave it */
} DICT_COLUMN;

typedef struct __dict_table {
    uint32_t objn;            /* OBJECT_ID, matched against DATA_OBJ# */
    int64_t objd;             /* DATA_OBJECT_ID, -1 when not given */
    std::string owner, name;
    std::string label;        /* OWNER.TABLE as a CSV field, quoted when it needs it */
    std::string token;        /* ""OWNER"".""TABLE"" */
    SPAN out_label, out_token;  /* label and token, in the dictionary's names */
    std::vector<DICT_COLUMN> cols;  /* by SEGMENT_COLUMN_ID, ascending, no gaps needed */
} DICT_TABLE;

typedef struct __dictionary {
    std::vector<DICT_TABLE> tables;
    std::unordered_map<uint32_t, uint32_t> by_objn;  /* OBJECT_ID -> index in tables */
    size_t longest_token;     /* longest label or token, for the output bound */
    std::vector<char> names;  /* every label and token, one after another, WILD_SLACK bytes after the last */
} DICTIONARY;

/* A character set, as the database names it, and how iconv knows it. */
typedef struct __charset {
    const char *oracle;
    const char *iconv;
    bool cesu;                /* CESU-8: surrogate pairs joined before iconv reads it as UTF-8 */
} CHARSET;

/* A conversion from one database character set to UTF-8. */
typedef struct __text_conv {
    const CHARSET *cs;
    iconv_t cd;
    bool ascii_same;          /* bytes 01..7f are those characters: no iconv for them */
    bool utf8_same;           /* iconv reads the set as UTF-8 and keeps it (checked when opened): copy_utf8 stands for it */
} TEXT_CONV;

/* One column of a row statement: name and value as quorvil wrote them, and what is written for them. */
typedef struct __stmt_item {
    SPAN name;                /* ""COL n"" */
    SPAN value;               /* NULL or HEXTORAW('..') */
    int64_t col;              /* n */
    bool is_null;
    bool hidden;
    uint8_t kind;             /* VALUE_KIND of its column; VK_HEX without one */
    SPAN out_name;            /* what replaces name */
    SPAN out[2];              /* what is written for the value: [0] in a list (NULL or the value),
                                 [1] after a name in a condition (" IS NULL" or "=value") */
} STMT_ITEM;

typedef enum { ST_INSERT, ST_DELETE, ST_UPDATE } STMT_KIND;

typedef struct __statement {
    STMT_KIND kind;
    SPAN table;               /* ""UNKNOWN"".""OBJ# n"" */
    int64_t objn;             /* n */
    size_t nset;              /* update: items[0..nset) the set list, then the where clause */
    size_t nitems;
} STATEMENT;

/*
 * The shape of a row statement: all of it but its values.  The lines of one
 * table mostly repeat a few statements (the same columns inserted, the same
 * key in the where clause), so a shape made from one line is matched against
 * the next ones: its fixed pieces compared as text and only the values read,
 * and both output statements written as fixed text with the values between.
 */
#define SHAPE_SETS 256            /* shapes are kept by table and kind in this many sets ... */
#define SHAPE_WAYS 4              /* ... of this many each */
#define SHAPE_TEXT_MAX (256 * 1024)        /* a statement that would make more text is not kept */
#define SHAPES_BYTES_MAX (32u * 1024 * 1024)  /* all shapes' text together */
#define SHAPE_WAIT_MAX 16         /* a set whose shapes go unused makes one at most every this many misses */
#define NO_ITEM UINT32_MAX
#define HEX_OPEN "HEXTORAW('"     /* how a value in bytes begins */
#define HEX_OPEN_LEN (sizeof(HEX_OPEN) - 1)

/* A piece of fixed text, then the value of one item (none after the last piece). */
typedef struct __shape_step {
    uint32_t off, len;        /* the text, in the shape's text */
    uint32_t item;            /* the item whose value follows, or NO_ITEM */
    bool cond;                /* a condition: " IS NULL" or "=value"; else NULL or the value */
} SHAPE_STEP;

/* A value's n bytes, from their 2n hex digits at d, as its literal at o;
 * where it ends, or NULL when it stays in hex (bytes that are not a value
 * of the type).  o has the room make_room keeps for a literal. */
typedef char *(*VALUE_FORMAT)(struct __decoder *dc, char *o, const char *d, size_t n);

/* What a shape keeps of each item: how its value is written. */
typedef struct __shape_item {
    VALUE_FORMAT format;      /* NULL: it stays in hex */
    bool hidden;
} SHAPE_ITEM;

typedef struct __shape {
    uint32_t objn;            /* the table's OBJECT_ID; 0 with kind NO_SHAPE: the way is free */
    uint8_t kind;             /* STMT_KIND, or NO_SHAPE */
    std::string text;         /* every piece, one after another, WILD_SLACK bytes after the last */
    std::vector<SHAPE_STEP> in, redo, undo;  /* the input statement, SQL_REDO, SQL_UNDO (empty: none) */
    std::vector<SHAPE_ITEM> items;
    bool used;                /* a line has matched it since it was made */
} SHAPE;
#define NO_SHAPE 0xff

/* The run: dictionary, character sets, files, buffers and counts. */
typedef struct __decoder {
    DICTIONARY dict;
    TEXT_CONV conv[2];        /* 0: CHAR_CS, 1: NCHAR_CS */
    bool tz_known;
    std::string tz_text;      /* DBTIMEZONE as it sits in a quoted SQL string in a CSV field */

    int in_fd;
    const char *in_name;
    int out_fd;
    const char *out_name;

    char *ibuf;               /* input: bytes [ibeg, iend) not yet taken */
    size_t ibuf_sz, ibeg, iend;
    size_t iscan;             /* where the search for the end of the line goes on */
    bool iscan_quoted;        /* inside quotes at iscan */
    bool in_long;             /* the line's beginning, too long to hold, is written already */
    bool in_eof;
    int in_errno;

    char *obuf;
    size_t opos;
    int out_errno;
    uint64_t out_bytes;

    /* scratch of one line, kept from line to line */
    std::vector<STMT_ITEM> items;
    char *lit;                /* literals of the line's values: lit_len used of lit_cap */
    size_t lit_len, lit_cap;
    uint8_t *bytes;           /* a value's bytes: bytes_cap of room */
    size_t bytes_cap;
    std::string text;         /* a value converted to UTF-8 */
    std::vector<size_t> set_idx, cond_idx;  /* the visible items of an update's two lists */

    /* shapes of recent statements, and the making of one */
    std::vector<SHAPE> shapes;             /* SHAPE_SETS * SHAPE_WAYS, made when first needed */
    uint8_t shape_misses[SHAPE_SETS];      /* statements of the set that found no shape since one was made */
    uint8_t shape_wait[SHAPE_SETS];        /* a shape is made at every 2 << shape_wait misses */
    size_t shape_bytes;                    /* text held by all shapes */
    bool no_shapes;                        /* every statement read and written item by item */
    const char *mark_base;                 /* while a shape is made, where the writers write; else NULL */
    std::vector<SHAPE_STEP> shape_marks;   /* where they left values out */
    char *shape_out;                       /* what the writers write while a shape is made */
    size_t shape_out_cap;

    uint64_t lines, decoded, unknown_obj, hex_values, passed, stale;
} DECODER;

/* load_dict.cpp */
int load_dict(DICTIONARY *d, const char *text, size_t len, const char *file);
VALUE_KIND kind_of_type(const char *type, size_t n, const char *csname, size_t csn);
const DICT_TABLE *find_table(const DICTIONARY *d, uint32_t objn);
const DICT_COLUMN *find_column(const DICT_TABLE *t, int64_t segid);

/* load_nls.cpp */
int load_nls(DECODER *dc, const char *text, size_t len, const char *file);
int set_charsets(DECODER *dc, const char *db, const char *nat, const char *file);
void close_charsets(DECODER *dc);

/*
 * The reading and writing of lines (the files below but load_dict, load_nls
 * and write_output) is built twice from the same sources: for any x86-64
 * processor, and, where the compiler can, once more for those with AVX2,
 * whose steps scan, compare and copy 32 bytes at a time.  quorvil-decode
 * takes the second where the processor has it (main).  Each build's
 * functions are in a namespace of its own, DECODE_ISA, so that both link
 * into one program; a file built once (the rest of the program, the tests)
 * sees the first, isa_base.
 */
#ifndef DECODE_ISA
#define DECODE_ISA isa_base
#endif

namespace DECODE_ISA {

/* split_fields.cpp: RFC 4180 fields of one line */
int split_fields(const char *p, size_t n, SPAN *f, int max, bool rest_in_last);
void unquote_field(SPAN f, std::string *out);
size_t find_record_end(const char *p, size_t n, bool *in_quotes);
void csv_field(const char *s, size_t n, std::string *out);
void sql_name_token(const std::string &name, std::string *out);

/* read_record.cpp */
int read_record(DECODER *dc, SPAN *rec);

}  // namespace DECODE_ISA

/* write_output.cpp */
void out_put_slow(DECODER *dc, const char *p, size_t n);
int out_flush(DECODER *dc);
/*
 * The writers of a row line keep their place in obuf in a local pointer o
 * rather than in dc->opos: every byte stored through a char pointer may be
 * dc->opos as far as the compiler knows, so a place kept there is loaded
 * again after each piece.  out_at and OUT_LIT_AT give back the new place;
 * dc->opos is set from it when the line is done.
 *
 * WILD_SLACK: a piece is copied 80 bytes at once, then sixteen at a time,
 * so up to 79 bytes past its end are read (the input buffer, the literals,
 * the dictionary's names and the shapes keep that room past their text) and
 * written (obuf keeps that room past the last piece).
 */
char *out_at_slow(DECODER *dc, char *o, const char *p, size_t n);

namespace DECODE_ISA {

/* n bytes from s to d, inline: most pieces of a line are short, and a call
 * to memcpy costs more than the copy.  Two overlapping loads and stores
 * cover 4..16 bytes without touching a byte outside either range. */
static inline void copy_bytes(char *d, const char *s, size_t n)
{
    if (n > 16) {
        memcpy(d, s, n);
    } else if (n >= 8) {
        uint64_t a, b;
        memcpy(&a, s, 8);
        memcpy(&b, s + n - 8, 8);
        memcpy(d, &a, 8);
        memcpy(d + n - 8, &b, 8);
    } else if (n >= 4) {
        uint32_t a, b;
        memcpy(&a, s, 4);
        memcpy(&b, s + n - 4, 4);
        memcpy(d, &a, 4);
        memcpy(d + n - 4, &b, 4);
    } else if (n > 0) {
        d[0] = s[0];
        d[n / 2] = s[n / 2];
        d[n - 1] = s[n - 1];
    }
}

/* out_bytes counts what is gathered when it leaves obuf (out_put_slow, out_flush). */
static inline void out_put(DECODER *dc, const char *p, size_t n)
{
    if (n <= OBUF_SIZE - dc->opos) {
        copy_bytes(dc->obuf + dc->opos, p, n);
        dc->opos += n;
        return;
    }
    out_put_slow(dc, p, n);
}
#define OUT_LIT(dc, s) out_put((dc), (s), sizeof(s) - 1)

/* The end of the room out_at writes in: obuf stays where it is all the run,
 * so a writer takes it once and keeps it where stores cannot touch it. */
static inline const char *out_end(const DECODER *dc)
{
    return dc->obuf + OBUF_SIZE - WILD_SLACK;
}

/* n bytes of p at o, p readable and o writable WILD_SLACK bytes past n.
 * Most pieces are shorter than 80 bytes (a TIMESTAMP literal is 73), and
 * their lengths vary from one to the next: 80 bytes copied at once,
 * whatever n is, leave no loop to guess the end of. */
static inline char *copy_wild(char *o, const char *p, size_t n)
{
    char *e = o + n;
#if defined(DECODE_AVX2_BUILD)
    __m256i a = _mm256_loadu_si256((const __m256i *)p), b = _mm256_loadu_si256((const __m256i *)(p + 32));
    __m128i c = _mm_loadu_si128((const __m128i *)(p + 64));
    _mm256_storeu_si256((__m256i *)o, a);
    _mm256_storeu_si256((__m256i *)(o + 32), b);
    _mm_storeu_si128((__m128i *)(o + 64), c);
    for (size_t i = 80; i < n; i += 16)
        _mm_storeu_si128((__m128i *)(o + i), _mm_loadu_si128((const __m128i *)(p + i)));
#elif defined(__SSE2__)
    __m128i a = _mm_loadu_si128((const __m128i *)p), b = _mm_loadu_si128((const __m128i *)(p + 16));
    __m128i c = _mm_loadu_si128((const __m128i *)(p + 32)), d = _mm_loadu_si128((const __m128i *)(p + 48));
    __m128i f = _mm_loadu_si128((const __m128i *)(p + 64));
    _mm_storeu_si128((__m128i *)o, a);
    _mm_storeu_si128((__m128i *)(o + 16), b);
    _mm_storeu_si128((__m128i *)(o + 32), c);
    _mm_storeu_si128((__m128i *)(o + 48), d);
    _mm_storeu_si128((__m128i *)(o + 64), f);
    for (size_t i = 80; i < n; i += 16)
        _mm_storeu_si128((__m128i *)(o + i), _mm_loadu_si128((const __m128i *)(p + i)));
#else
    memcpy(o, p, n);
#endif
    return e;
}

/* n (at most 16) bytes of p at o, p readable and o writable 16 bytes past. */
static inline char *copy_16(char *o, const char *p, size_t n)
{
#ifdef __SSE2__
    _mm_storeu_si128((__m128i *)o, _mm_loadu_si128((const __m128i *)p));
#else
    memcpy(o, p, n);
#endif
    return o + n;
}

/* n bytes of p at o, p readable WILD_SLACK bytes past n; end from out_end. */
static inline char *out_at(DECODER *dc, char *o, const char *end, const char *p, size_t n)
{
    if (__builtin_expect(end - o >= (ptrdiff_t)n, 1))
        return copy_wild(o, p, n);
    return out_at_slow(dc, o, p, n);
}

/* n bytes of p at o, p read no further than n (text of the program). */
static inline char *out_exact_at(DECODER *dc, char *o, const char *end, const char *p, size_t n)
{
    if (__builtin_expect(end - o >= (ptrdiff_t)n, 1)) {
        copy_bytes(o, p, n);
        return o + n;
    }
    return out_at_slow(dc, o, p, n);
}
#define OUT_LIT_AT(dc, o, end, s) out_exact_at((dc), (o), (end), (s), sizeof(s) - 1)

/* decode_stream.cpp */
int decode_stream(DECODER *dc);
uint64_t output_bound(const DECODER *dc, uint64_t in_bytes, uint64_t lines);

/* decode_line.cpp */
void decode_line(DECODER *dc, SPAN rec);

/* parse_statement.cpp */
bool parse_statement(DECODER *dc, SPAN sql, STATEMENT *st);
char *match_shape(DECODER *dc, const SHAPE *sh, SPAN sql, char *o, uint64_t *hex);

/* statement_shape.cpp */
const SHAPE *make_shape(DECODER *dc, uint32_t objn, const STATEMENT *st, SPAN sql, SPAN table);
char *write_shape(DECODER *dc, uint32_t objn, STMT_KIND kind, SPAN sql, size_t line_len, char *o);

/* write_statements.cpp */
char *write_redo(DECODER *dc, char *o, const char *end, const STATEMENT *st, SPAN table);
char *write_undo(DECODER *dc, char *o, const char *end, const STATEMENT *st, SPAN table);

/* format_value.cpp: the literal of one value; 1 written, 0 left in hex, -1 not hex digits */
int format_value(DECODER *dc, uint8_t kind, SPAN value);
VALUE_FORMAT value_format(const DECODER *dc, uint8_t kind, bool room);
extern const char null_text[];   /* " IS NULL", WILD_SLACK bytes of room after it */
void null_forms(STMT_ITEM *it);
bool value_forms(DECODER *dc, STMT_ITEM *it);
void hex_bytes(const char *digits, size_t n, uint8_t *bytes);
#ifdef __SSE2__
/* The bytes of the sixteen hex digits in x (lower-case, checked), in its
 * low eight lanes and again in the high eight: a digit's value is its low
 * nibble, plus 9 for a-f (above '9'); the two digits of each 16-bit lane
 * make one byte. */
static inline __m128i hex_lanes(__m128i x)
{
    const __m128i low = _mm_set1_epi8(0x0f), nine = _mm_set1_epi8(9), lane_low = _mm_set1_epi16(0x00ff);
    x = _mm_add_epi8(_mm_and_si128(x, low), _mm_and_si128(_mm_cmpgt_epi8(x, _mm_set1_epi8('9')), nine));
    return _mm_or_si128(_mm_slli_epi16(_mm_and_si128(x, lane_low), 4), _mm_srli_epi16(x, 8));
}

/* All ones in the lanes of the bytes of x that lie in [lo, lo + k), k
 * below 128: byte + 0x80 - lo, as a signed byte, is below k - 0x80, one add
 * and one compare. */
static inline __m128i byte_range(__m128i x, int lo, int k)
{
    return _mm_cmplt_epi8(_mm_add_epi8(x, _mm_set1_epi8((char)(0x80 - lo))), _mm_set1_epi8((char)(0x80 + k)));
}

/* The sixteen bytes of the thirty-two hex digits at p.  With AVX2 in one
 * step: each pair of digits' values joined by one multiply-add (16 * high
 * + low), packed, and the two halves' bytes brought together. */
static inline __m128i hex16(const char *p)
{
#ifdef DECODE_AVX2_BUILD
    __m256i x = _mm256_loadu_si256((const __m256i *)p);
    x = _mm256_add_epi8(_mm256_and_si256(x, _mm256_set1_epi8(0x0f)),
                        _mm256_and_si256(_mm256_cmpgt_epi8(x, _mm256_set1_epi8('9')), _mm256_set1_epi8(9)));
    x = _mm256_maddubs_epi16(x, _mm256_set1_epi16(0x0110));
    x = _mm256_permute4x64_epi64(_mm256_packus_epi16(x, x), 0x08);
    return _mm256_castsi256_si128(x);
#else
    return _mm_packus_epi16(hex_lanes(_mm_loadu_si128((const __m128i *)p)), hex_lanes(_mm_loadu_si128((const __m128i *)(p + 16))));
#endif
}

/* The eight bytes of the sixteen hex digits at p, in the low half. */
static inline __m128i hex8(const char *p)
{
    __m128i x = hex_lanes(_mm_loadu_si128((const __m128i *)p));
    return _mm_packus_epi16(x, x);
}
#endif
bool make_room(DECODER *dc, size_t line_len, size_t nitems);
extern const uint8_t hex_values[256];   /* 0..15 for 0-9 and a-f, 0x80 for any other byte */

/* format_number.cpp */
int format_number(const uint8_t *b, size_t n, char *out);
/* format_binary.cpp */
int format_binary(const uint8_t *b, size_t n, bool dbl, char *out);
/* format_datetime.cpp */
int format_date(const uint8_t *b, size_t n, char *out);
int format_timestamp(const uint8_t *b, size_t n, char *out);
int format_tstz(const uint8_t *b, size_t n, char *out);
/* format_interval.cpp */
int format_iym(const uint8_t *b, size_t n, char *out);
int format_ids(const uint8_t *b, size_t n, char *out);
/* format_text.cpp */
char *format_text(DECODER *dc, char *o, TEXT_CONV *tc, bool national, const uint8_t *b, size_t n);
char *format_utf8_hex(DECODER *dc, char *o, bool national, const char *digits, size_t n);
char *format_utf8_hex_room(DECODER *dc, char *o, bool national, const char *digits, size_t n);

#define LITERAL_MAX 160           /* longest literal of a fixed-size type; the time zone aside */

}  // namespace DECODE_ISA

using namespace DECODE_ISA;

#ifdef QUORVIL_DECODE_AVX2
namespace isa_avx2 {
int decode_stream(DECODER *dc);
}

/* Whether this processor runs the AVX2 build: AVX2, and the BMI and POPCNT
 * that build may use. */
static inline bool avx2_runs(void)
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
           __builtin_cpu_supports("popcnt");
}
#endif

#endif
