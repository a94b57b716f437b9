// The stream cipher of delivered site scripts: three 32-bit shift registers, one keystream byte per
// text byte. Enciphering and deciphering are the same operation.
#pragma once

#include <array>
#include <cstdint>
#include <string>

class ARACrypt {
public:
    // The key every delivered script block is enciphered with.
    static const char kScriptKey[9];

    ARACrypt();

    virtual void Transform(const char* key, std::string& buffer);
    virtual void SetKey(const char* key);
    virtual void GetKey(std::string& out);
    virtual void TransformChar(unsigned char& c);
    virtual ~ARACrypt();

    std::array<uint32_t, 3> Registers() const { return {r1_, r2_, r3_}; }

private:
    std::string key_;
    uint32_t r1_;
    uint32_t r2_;
    uint32_t r3_;
};

// One delivered block, in place: a fresh key setting with the script key, then every byte in order.
void TransformScriptBlock(ARACrypt& crypt, std::string& block);
