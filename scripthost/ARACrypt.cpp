// ARACrypt: the registers are seeded from a 12-byte key and stepped eight times per byte.
#include "ARACrypt.h"

#include <cstring>

namespace {

const uint32_t kInitial1 = 0x13579BDF, kInitial2 = 0x2468ACE0, kInitial3 = 0xFDB97531;
const uint32_t kMask1 = 0x80000062, kMask2 = 0x40000020, kMask3 = 0x10000002;
const uint32_t kRot0_1 = 0x7FFFFFFF, kRot0_2 = 0x3FFFFFFF, kRot0_3 = 0x0FFFFFFF;
const uint32_t kRot1_1 = 0x80000000, kRot1_2 = 0xC0000000, kRot1_3 = 0xF0000000;

const char kDefaultSeed[] = "m\xb4#\xc6\xd2\xe1*+?\xa7/w";
const size_t kSeedLength = 12;

// Key bytes enter the registers as signed chars widened with their sign: a byte of 0x80 or more
// fills the bits above it, and the enciphered scripts depend on that.
uint32_t Widen(char c)
{
    return static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
}

}  // namespace

const char ARACrypt::kScriptKey[9] = "\xc7\xe0\xd4\xb5\xc9\xbd\xba\xd3";

ARACrypt::ARACrypt() : r1_(kInitial1), r2_(kInitial2), r3_(kInitial3) {}

ARACrypt::~ARACrypt() = default;

void ARACrypt::Transform(const char* key, std::string& buffer)
{
    SetKey(key);
    for (char& c : buffer) {
        unsigned char b = static_cast<unsigned char>(c);
        TransformChar(b);
        c = static_cast<char>(b);
    }
}

void ARACrypt::SetKey(const char* key)
{
    key_ = key ? key : "";
    std::string seed = key_.empty() ? std::string(kDefaultSeed, kSeedLength) : key_;
    for (size_t i = 0; seed.size() < kSeedLength; ++i)
        seed += seed[i];
    for (size_t i = 0; i < 4; ++i) {
        r1_ = (r1_ << 8) | Widen(seed[i]);
        r2_ = (r2_ << 8) | Widen(seed[i + 4]);
        r3_ = (r3_ << 8) | Widen(seed[i + 8]);
    }
    if (!r1_)
        r1_ = kInitial1;
    if (!r2_)
        r2_ = kInitial2;
    if (!r3_)
        r3_ = kInitial3;
}

void ARACrypt::GetKey(std::string& out)
{
    out = key_;
}

void ARACrypt::TransformChar(unsigned char& c)
{
    uint32_t out2 = r2_ & 1, out3 = r3_ & 1;
    unsigned char k = 0;
    for (int i = 0; i < 8; ++i) {
        if (r1_ & 1) {
            r1_ = ((r1_ ^ kMask1) >> 1) | kRot1_1;
            if (r2_ & 1) {
                r2_ = ((r2_ ^ kMask2) >> 1) | kRot1_2;
                out2 = 1;
            } else {
                r2_ = (r2_ >> 1) & kRot0_2;
                out2 = 0;
            }
        } else {
            r1_ = (r1_ >> 1) & kRot0_1;
            if (r3_ & 1) {
                r3_ = ((r3_ ^ kMask3) >> 1) | kRot1_3;
                out3 = 1;
            } else {
                r3_ = (r3_ >> 1) & kRot0_3;
                out3 = 0;
            }
        }
        k = static_cast<unsigned char>((k << 1) | (out2 ^ out3));
    }
    if (c != k)
        c ^= k;
}

void TransformScriptBlock(ARACrypt& crypt, std::string& block)
{
    crypt.SetKey(ARACrypt::kScriptKey);
    for (char& c : block) {
        unsigned char b = static_cast<unsigned char>(c);
        crypt.TransformChar(b);
        c = static_cast<char>(b);
    }
}
