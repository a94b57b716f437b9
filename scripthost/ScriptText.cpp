// Base64 decoding, dotted version comparison and the sleep cap for the script host.
#include "ScriptText.h"

#include <climits>
#include <vector>

#include "common/StringUtil.h"

namespace Vellix {

namespace {

// Longer sleeps would freeze every caller of the script; the cap also keeps the milliseconds
// within 32 bits and away from INFINITE.
const unsigned kMaxSleepSeconds = 600;

int Base64Digit(unsigned char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// Like atoi, but an overlong number saturates instead of overflowing.
int LeadingNumber(const std::string& field)
{
    size_t i = 0;
    while (i < field.size() && (field[i] == ' ' || (field[i] >= '\t' && field[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < field.size() && (field[i] == '+' || field[i] == '-'))
        negative = field[i++] == '-';
    long long value = 0;
    for (; i < field.size() && field[i] >= '0' && field[i] <= '9'; ++i) {
        value = value * 10 + (field[i] - '0');
        if (value > INT_MAX)
            value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative)
        value = -value;
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace

size_t DecodeBase64(const char* data, size_t length, char* out)
{
    size_t written = 0;
    unsigned group = 0;
    int counted = 0;
    for (size_t i = 0; i < length && data[i] != '\0'; ++i) {
        int digit = Base64Digit(static_cast<unsigned char>(data[i]));
        if (digit < 0)
            continue;
        group = (group << 6) | static_cast<unsigned>(digit);
        if (++counted == 4) {
            out[written++] = static_cast<char>(group >> 16);
            out[written++] = static_cast<char>(group >> 8);
            out[written++] = static_cast<char>(group);
            group = 0;
            counted = 0;
        }
    }
    if (counted == 2) {
        out[written++] = static_cast<char>(group >> 4);
    } else if (counted == 3) {
        out[written++] = static_cast<char>(group >> 10);
        out[written++] = static_cast<char>(group >> 2);
    }
    return written;
}

int CompareVersions(const std::string& a, const std::string& b)
{
    std::vector<std::string> left = SplitTrimmed(a, '.');
    std::vector<std::string> right = SplitTrimmed(b, '.');
    for (size_t i = 0; i < 4; ++i) {
        int x = i < left.size() ? LeadingNumber(left[i]) : 0;
        int y = i < right.size() ? LeadingNumber(right[i]) : 0;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

unsigned SleepMilliseconds(double seconds, long long whole)
{
    if (seconds >= kMaxSleepSeconds)
        return kMaxSleepSeconds * 1000u;
    if (seconds > 0)  // negative and NaN sleep not at all
        return static_cast<unsigned>(whole) * 1000u;
    return 0;
}

}  // namespace Vellix
