// MD5 message digest (RFC 1321) over a caller-allocated context; the digest stays in the context.
#include "Tessara.h"

#include <string.h>

namespace {

inline uint32_t rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t load32(const unsigned char* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

const uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

const int kShift[4][4] = {{7, 12, 17, 22}, {5, 9, 14, 20}, {4, 11, 16, 23}, {6, 10, 15, 21}};

void transform(uint32_t state[4], const unsigned char block[64]) {
    uint32_t x[16];
    for (int i = 0; i < 16; i++) x[i] = load32(block + 4 * i);
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; i++) {
        uint32_t f;
        int g;
        switch (i >> 4) {
        case 0: f = (b & c) | (~b & d); g = i; break;
        case 1: f = (d & b) | (~d & c); g = (5 * i + 1) & 15; break;
        case 2: f = b ^ c ^ d; g = (3 * i + 5) & 15; break;
        default: f = c ^ (b | ~d); g = (7 * i) & 15; break;
        }
        uint32_t t = d;
        d = c;
        c = b;
        b = b + rotl(a + f + kSine[i] + x[g], kShift[i >> 4][i & 3]);
        a = t;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

}  // namespace

extern "C" {

void MD5Init(MD5Context* ctx) {
    memset(ctx, 0, sizeof *ctx);
    ctx->state[0] = 0x67452301;
    ctx->state[1] = 0xefcdab89;
    ctx->state[2] = 0x98badcfe;
    ctx->state[3] = 0x10325476;
}

void MD5Update(MD5Context* ctx, const unsigned char* data, unsigned int length) {
    if (!length) return;
    unsigned int have = (ctx->bits[0] >> 3) & 63;
    uint32_t low = ctx->bits[0] + (length << 3);
    if (low < ctx->bits[0]) ctx->bits[1]++;
    ctx->bits[1] += length >> 29;
    ctx->bits[0] = low;

    if (have) {
        unsigned int need = 64 - have;
        if (length < need) {
            memcpy(ctx->buffer + have, data, length);
            return;
        }
        memcpy(ctx->buffer + have, data, need);
        transform(ctx->state, ctx->buffer);
        data += need;
        length -= need;
    }
    for (; length >= 64; data += 64, length -= 64) transform(ctx->state, data);
    memcpy(ctx->buffer, data, length);
}

void MD5Final(MD5Context* ctx) {
    unsigned char count[8];
    for (int i = 0; i < 4; i++) {
        count[i] = (unsigned char)(ctx->bits[0] >> (8 * i));
        count[4 + i] = (unsigned char)(ctx->bits[1] >> (8 * i));
    }
    static const unsigned char kPad[64] = {0x80};
    unsigned int have = (ctx->bits[0] >> 3) & 63;
    MD5Update(ctx, kPad, have < 56 ? 56 - have : 120 - have);
    MD5Update(ctx, count, 8);
    for (int i = 0; i < 4; i++) {
        for (int j = 0; j < 4; j++) ctx->digest[4 * i + j] = (unsigned char)(ctx->state[i] >> (8 * j));
    }
}

}  // extern "C"
