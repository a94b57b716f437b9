// Decimal text to double and back without the C runtime's locale-dependent conversions. Parsing keeps
// up to 800 significant digits and scales them by powers of two in decimal, which rounds correctly;
// formatting works on the exact binary value in a wide integer.
#include "JsonNumber.h"

#include <string.h>

namespace {

// ---- text to double ----

const int kMaxDigits = 800;   // beyond this a digit can no longer change the rounding, only its "rest"
const int kMaxShift = 60;     // 10 * 2^60 still fits 64 bits
const int kExponentCap = 100000;

struct Decimal {
    uint8_t d[kMaxDigits + 64];  // room for the digits a shift adds before they are cut back
    int nd;                      // digits used
    int dp;                      // value = 0.d[0]d[1]... * 10^dp
    bool trunc;                  // non-zero digits were dropped behind d
};

void trim(Decimal* a) {
    while (a->nd > 0 && a->d[a->nd - 1] == 0) a->nd--;
    if (a->nd == 0) a->dp = 0;
}

void cutToMax(Decimal* a) {
    if (a->nd <= kMaxDigits) return;
    for (int i = kMaxDigits; i < a->nd; ++i) {
        if (a->d[i]) a->trunc = true;
    }
    a->nd = kMaxDigits;
}

void rightShift(Decimal* a, unsigned k) {
    int r = 0, w = 0;
    uint64_t n = 0;
    for (; (n >> k) == 0; r++) {
        if (r >= a->nd) {
            if (n == 0) {
                a->nd = 0;
                a->dp = 0;
                return;
            }
            while ((n >> k) == 0) {
                n *= 10;
                r++;
            }
            break;
        }
        n = n * 10 + a->d[r];
    }
    a->dp -= r - 1;
    uint64_t mask = ((uint64_t)1 << k) - 1;
    for (; r < a->nd; r++) {
        uint64_t c = a->d[r];
        a->d[w++] = (uint8_t)(n >> k);
        n = (n & mask) * 10 + c;
    }
    while (n > 0) {
        a->d[w++] = (uint8_t)(n >> k);
        n = (n & mask) * 10;
    }
    a->nd = w;
    cutToMax(a);
    trim(a);
}

void leftShift(Decimal* a, unsigned k) {
    // k * log10(2) rounded down, plus two: never fewer than the digits the shift adds
    int delta = (int)((k * 1233) >> 12) + 2;
    int total = a->nd + delta;
    int w = total;
    uint64_t n = 0;
    for (int r = a->nd - 1; r >= 0; r--) {
        n += (uint64_t)a->d[r] << k;
        uint64_t quo = n / 10;
        a->d[--w] = (uint8_t)(n - 10 * quo);
        n = quo;
    }
    while (n > 0) {
        uint64_t quo = n / 10;
        a->d[--w] = (uint8_t)(n - 10 * quo);
        n = quo;
    }
    if (w > 0) memmove(a->d, a->d + w, (size_t)(total - w));
    a->nd = total - w;
    a->dp += delta - w;
    cutToMax(a);
    trim(a);
}

void shift(Decimal* a, int k) {
    if (a->nd == 0) return;
    while (k > 0) {
        int step = k < kMaxShift ? k : kMaxShift;
        leftShift(a, (unsigned)step);
        k -= step;
    }
    while (k < 0) {
        int step = -k < kMaxShift ? -k : kMaxShift;
        rightShift(a, (unsigned)step);
        k += step;
    }
}

// Round half to even; digits dropped behind the stored ones make an apparent half a little more.
bool shouldRoundUp(const Decimal* a, int nd) {
    if (nd < 0 || nd >= a->nd) return false;
    if (a->d[nd] == 5 && nd + 1 == a->nd) return a->trunc || (nd > 0 && a->d[nd - 1] % 2 == 1);
    return a->d[nd] >= 5;
}

uint64_t roundedInteger(const Decimal* a) {
    int i = 0;
    uint64_t n = 0;
    for (; i < a->dp && i < a->nd; i++) n = n * 10 + a->d[i];
    for (; i < a->dp; i++) n *= 10;
    if (shouldRoundUp(a, a->dp)) n++;
    return n;
}

// Reads what strtod would take from the text: sign, digits with one optional '.', an exponent only
// when digits follow its 'e'. Returns false when there is no digit at all (strtod's "no conversion").
bool readDecimal(const char* s, size_t len, Decimal* a, bool* neg) {
    size_t i = 0;
    *neg = false;
    if (i < len && (s[i] == '+' || s[i] == '-')) *neg = s[i++] == '-';
    a->nd = 0;
    a->dp = 0;
    a->trunc = false;
    bool sawDigits = false, sawDot = false;
    int64_t dp = 0;
    for (; i < len; ++i) {
        char c = s[i];
        if (c == '.') {
            if (sawDot) break;
            sawDot = true;
            continue;
        }
        if (c < '0' || c > '9') break;
        sawDigits = true;
        if (a->nd == 0 && c == '0') {
            if (sawDot) dp--;
            continue;
        }
        if (a->nd < kMaxDigits)
            a->d[a->nd++] = (uint8_t)(c - '0');
        else if (c != '0')
            a->trunc = true;
        if (!sawDot) dp++;
    }
    if (!sawDigits) return false;
    if (i < len && (s[i] == 'e' || s[i] == 'E')) {
        size_t j = i + 1;
        bool negExp = false;
        if (j < len && (s[j] == '+' || s[j] == '-')) negExp = s[j++] == '-';
        if (j < len && s[j] >= '0' && s[j] <= '9') {
            int64_t e = 0;
            for (; j < len && s[j] >= '0' && s[j] <= '9'; ++j) {
                if (e < kExponentCap) e = e * 10 + (s[j] - '0');
            }
            dp += negExp ? -e : e;
        }
    }
    if (dp > kExponentCap) dp = kExponentCap;
    if (dp < -kExponentCap) dp = -kExponentCap;
    a->dp = (int)dp;
    trim(a);
    return true;
}

// Returns false when the value overflows the double range.
bool decimalToDouble(Decimal* a, bool neg, double* out) {
    uint64_t bits = 0;
    if (a->nd > 0 && a->dp > 310) return false;
    if (a->nd > 0 && a->dp >= -330) {
        static const int powtab[] = {1, 3, 6, 9, 13, 16, 19, 23, 26};
        const int npow = (int)(sizeof powtab / sizeof powtab[0]);
        int exp = 0;
        while (a->dp > 0) {
            int n = a->dp >= npow ? 27 : powtab[a->dp];
            shift(a, -n);
            exp += n;
        }
        while (a->dp < 0 || (a->dp == 0 && a->d[0] < 5)) {
            int n = -a->dp >= npow ? 27 : powtab[-a->dp];
            shift(a, n);
            exp -= n;
        }
        // now 0.5 <= value < 1; doubles are kept as 1.m * 2^exp
        exp--;
        if (exp < -1022) {
            int n = -1022 - exp;
            shift(a, -n);
            exp += n;
        }
        if (exp + 1023 >= 0x7FF) return false;
        shift(a, 53);
        uint64_t mant = roundedInteger(a);
        if (mant == ((uint64_t)2 << 52)) {
            mant >>= 1;
            if (++exp + 1023 >= 0x7FF) return false;
        }
        if (!(mant & ((uint64_t)1 << 52))) exp = -1023;  // subnormal
        bits = (mant & (((uint64_t)1 << 52) - 1)) | ((uint64_t)((exp + 1023) & 0x7FF) << 52);
    }
    if (neg) bits |= (uint64_t)1 << 63;
    memcpy(out, &bits, sizeof bits);
    return true;
}

// Texts of up to 19 digits that are whole numbers below 2^53 convert exactly without the scaling.
bool wholeFastPath(const Decimal* a, bool neg, double* out) {
    if (a->nd > 19 || a->dp < a->nd || a->dp > 19 || a->trunc) return false;
    uint64_t n = 0;
    for (int i = 0; i < a->dp; i++) n = n * 10 + (i < a->nd ? a->d[i] : 0);
    if (n >= ((uint64_t)1 << 53)) return false;
    double d = (double)n;
    *out = neg ? -d : d;
    return true;
}

bool parseDouble(const char* s, size_t len, double* out) {
    Decimal a;
    bool neg;
    if (!readDecimal(s, len, &a, &neg)) {
        *out = 0.0;
        return true;
    }
    if (wholeFastPath(&a, neg, out)) return true;
    return decimalToDouble(&a, neg, out);
}

// ---- double to text ----

struct Big {
    static const int kLimbs = 36;  // 2^1024 * 10^6 fits in 34 limbs of 32 bits
    uint32_t limb[kLimbs];
    int n;  // limbs used, the highest one non-zero

    explicit Big(uint64_t v) : n(0) {
        while (v) {
            limb[n++] = (uint32_t)v;
            v >>= 32;
        }
    }

    void mulSmall(uint32_t f) {
        uint64_t carry = 0;
        for (int i = 0; i < n; i++) {
            uint64_t t = (uint64_t)limb[i] * f + carry;
            limb[i] = (uint32_t)t;
            carry = t >> 32;
        }
        if (carry) limb[n++] = (uint32_t)carry;
    }

    void shiftLeft(int bits) {
        if (n == 0) return;
        int words = bits / 32, rest = bits % 32;
        if (rest) {
            uint32_t carry = 0;
            for (int i = 0; i < n; i++) {
                uint32_t v = limb[i];
                limb[i] = (v << rest) | carry;
                carry = v >> (32 - rest);
            }
            if (carry) limb[n++] = carry;
        }
        if (words) {
            memmove(limb + words, limb, (size_t)n * sizeof(uint32_t));
            memset(limb, 0, (size_t)words * sizeof(uint32_t));
            n += words;
        }
    }

    // Divides by 2^bits, rounding half to even.
    void shiftRightRounded(int bits) {
        int words = bits / 32, rest = bits % 32;
        int halfWord = (bits - 1) / 32, halfBit = (bits - 1) % 32;
        int cmp = -1;  // the part shifted out against half of 2^bits
        if (halfWord < n && (limb[halfWord] >> halfBit & 1)) {
            bool more = (limb[halfWord] & ((1u << halfBit) - 1)) != 0;
            for (int i = 0; i < halfWord && !more; i++) more = limb[i] != 0;
            cmp = more ? 1 : 0;
        }
        // the quotient
        if (words >= n) {
            n = 0;
        } else {
            for (int i = 0; i + words < n; i++) {
                uint64_t lo = limb[i + words];
                uint64_t hi = i + words + 1 < n ? limb[i + words + 1] : 0;
                limb[i] = rest ? (uint32_t)((lo >> rest) | (hi << (32 - rest))) : (uint32_t)lo;
            }
            n -= words;
            while (n > 0 && limb[n - 1] == 0) n--;
        }
        bool odd = n > 0 && (limb[0] & 1);
        if (cmp > 0 || (cmp == 0 && odd)) addOne();
    }

    void addOne() {
        for (int i = 0; i < n; i++) {
            if (++limb[i] != 0) return;
        }
        limb[n++] = 1;
    }

    // Divides by d in place and returns the remainder.
    uint32_t divSmall(uint32_t d) {
        uint64_t rem = 0;
        for (int i = n - 1; i >= 0; i--) {
            uint64_t cur = (rem << 32) | limb[i];
            limb[i] = (uint32_t)(cur / d);
            rem = cur % d;
        }
        while (n > 0 && limb[n - 1] == 0) n--;
        return (uint32_t)rem;
    }

    // Writes at least minDigits decimal digits, most significant first, backwards from end.
    char* writeDecimal(char* end, int minDigits) {
        char* p = end;
        do {
            uint32_t group = divSmall(1000000000u);
            for (int i = 0; i < 9; i++) {
                *--p = (char)('0' + group % 10);
                group /= 10;
            }
        } while (n > 0);
        while (p < end - minDigits && *p == '0') p++;
        return p;
    }
};

}  // namespace

size_t formatInt(int32_t i, char* out) {
    char buf[kIntTextMax];
    char* p = buf + sizeof buf;
    uint32_t u = i < 0 ? 0u - (uint32_t)i : (uint32_t)i;
    do {
        *--p = (char)('0' + u % 10);
        u /= 10;
    } while (u);
    if (i < 0) *--p = '-';
    size_t len = (size_t)(buf + sizeof buf - p);
    memcpy(out, p, len);
    out[len] = 0;
    return len;
}

size_t formatDouble(double d, char* out) {
    uint64_t bits;
    memcpy(&bits, &d, sizeof bits);
    bool neg = bits >> 63;
    int biased = (int)((bits >> 52) & 0x7FF);
    uint64_t mant = bits & (((uint64_t)1 << 52) - 1);
    int e2 = biased ? biased - 1075 : -1074;
    if (biased) mant |= (uint64_t)1 << 52;

    // value * 10^6 = mant * 10^6 * 2^e2, rounded to a whole number: the digits with the point before
    // the last six
    Big big(mant);
    big.mulSmall(1000000u);
    if (e2 >= 0)
        big.shiftLeft(e2);
    else if (-e2 > 80)  // mant * 10^6 < 2^73: less than half of 2^-e2
        big.n = 0;
    else
        big.shiftRightRounded(-e2);

    char digits[kDoubleTextMax];
    char* end = digits + sizeof digits;
    char* first = big.writeDecimal(end, 7);
    size_t count = (size_t)(end - first);
    char* o = out;
    if (neg) *o++ = '-';
    memcpy(o, first, count - 6);
    o += count - 6;
    *o++ = '.';
    memcpy(o, end - 6, 6);
    o += 6;
    *o = 0;
    return (size_t)(o - out);
}

NumberKind parseNumber(const char* text, size_t length, int32_t* integer, double* real) {
    bool isDouble = false;
    for (size_t i = 0; i < length && !isDouble; ++i) {
        char c = text[i];
        isDouble = c == '.' || c == 'e' || c == 'E';
    }
    if (!isDouble) {
        size_t i = 0;
        bool neg = false;
        if (i < length && (text[i] == '+' || text[i] == '-')) neg = text[i++] == '-';
        int64_t v = 0;
        for (; i < length && text[i] >= '0' && text[i] <= '9' && v <= INT64_C(0x80000000); ++i)
            v = v * 10 + (text[i] - '0');
        if (neg) v = -v;
        if (v >= INT32_MIN && v <= INT32_MAX) {
            *integer = (int32_t)v;
            return NUMBER_INTEGER;
        }
        // out of the 32-bit range: ids and millisecond times come as doubles rather than failing
    }
    return parseDouble(text, length, real) ? NUMBER_DOUBLE : NUMBER_FAILED;
}
