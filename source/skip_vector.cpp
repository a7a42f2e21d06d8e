/*
 * skip_vector.cpp - measuring a change vector by its length vector, and the
 * bounded view through which handlers reach its fields.
 *
 * A vector is its 24-byte header, the length vector (entry 0 = its own size,
 * entries 1..n-1 = field lengths), and the fields, each padded to a multiple
 * of 4.  The vector length is 24 + align4(e0) + align4(e1) + ... + align4(en-1).
 * measure_vector refuses a vector that does not fit in the bytes left of its
 * record; once the dispatcher has measured a vector so, every field the
 * length vector names lies inside it, and open_vector/vector_field trust that.
 */
#include "quorvil.h"

#include <climits>

static inline uint16_t entry(const uint8_t *vec, uint32_t i)
{
    return read_u16(vec + VECTOR_HEADER_SIZE + 2 * i);
}

/*
 * The longest vector the length vector can describe: entry 0 of 0xFFFF
 * (align4: 65,536 bytes) names 32,767 entries, so 32,766 fields of 65,535
 * bytes (65,536 each once padded): 24 + 65,536 + 32,766 * 65,536 =
 * 2,147,418,136 bytes, below INT_MAX.  Every vector length fits an int and
 * the 32-bit sum below cannot wrap.
 */
#define LONGEST_VECTOR (VECTOR_HEADER_SIZE + 65536ULL + 32766ULL * 65536ULL)
static_assert(LONGEST_VECTOR == 2147418136ULL && LONGEST_VECTOR <= INT_MAX);

/* The vector length: at most LONGEST_VECTOR. */
static uint32_t vector_length(const uint8_t *vec)
{
    uint16_t e0 = entry(vec, 0);
    uint32_t n = e0 / 2;
    uint32_t len = VECTOR_HEADER_SIZE + align4(e0);

    for (uint32_t i = 1; i < n; i++)
        len += align4(entry(vec, i));
    return len;
}

int skip_vector(REDO_VH *vhdr)
{
    return (int)vector_length((const uint8_t *)vhdr);
}

int measure_vector(const uint8_t *vec, uint32_t left)
{
    // header and entry 0 of the length vector must be there to measure at all
    if (left < VECTOR_HEADER_SIZE + 2)
        return -1;
    // length vector runs past the record
    if (VECTOR_HEADER_SIZE + align4(entry(vec, 0)) > left)
        return -1;
    uint32_t len = vector_length(vec);
    // fields run past the record
    if (len > left)
        return -1;
    return (int)len;
}

void open_vector(VECTOR *v, const REDO_VH *vhdr)
{
    v->base = (const uint8_t *)vhdr;
    v->nent = entry(v->base, 0) / 2;
    v->len = (uint32_t)skip_vector((REDO_VH *)vhdr);
}

static void fill_field(const VECTOR *v, FIELD *f)
{
    f->len = entry(v->base, f->k);
    f->ptr = v->base + f->off;
}

bool vector_field(const VECTOR *v, uint32_t k, FIELD *f)
{
    if (k == 0 || k >= v->nent)
        return false;
    f->k = 1;
    f->off = VECTOR_HEADER_SIZE + align4(entry(v->base, 0));
    while (f->k < k) {
        f->off += align4(entry(v->base, f->k));
        f->k++;
    }
    fill_field(v, f);
    return true;
}
