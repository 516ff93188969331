// Header values and records as byte strings for the resumable tests.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace resumable_test {

using Bytes = std::string;

inline const unsigned char* U(const Bytes& bytes) { return reinterpret_cast<const unsigned char*>(bytes.data()); }

// Literal bytes, NULs included.
template <std::size_t N>
Bytes B(const char (&sz)[N]) {
    return Bytes(sz, N - 1);
}

inline Bytes Le32(std::uint32_t n) {
    Bytes bytes;
    for (int i = 0; i < 4; ++i, n >>= 8) bytes += char(n & 0xFF);
    return bytes;
}
inline Bytes Le64(std::uint64_t n) { return Le32(std::uint32_t(n)) + Le32(std::uint32_t(n >> 32)); }

inline Bytes Hex(const Bytes& bytes) {
    static const char kszDigits[] = "0123456789abcdef";
    Bytes text;
    for (unsigned char ch : bytes) text += {kszDigits[ch >> 4], kszDigits[ch & 15]};
    return text;
}

// Base64 written here, independently of the reader under test.
inline Bytes Base64(const Bytes& bytes) {
    static const char kszAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    Bytes text;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t cb = bytes.size() - i < 3 ? bytes.size() - i : 3;
        std::uint32_t n = 0;
        for (std::size_t k = 0; k < 3; ++k) n = n << 8 | (k < cb ? static_cast<unsigned char>(bytes[i + k]) : 0);
        for (std::size_t k = 0; k < 4; ++k) text += k <= cb ? kszAlphabet[n >> (18 - 6 * k) & 0x3F] : '=';
    }
    return text;
}

// Deterministic bytes for property cases.
inline Bytes Noise(std::size_t cb, std::uint32_t nSeed) {
    Bytes bytes;
    for (std::size_t i = 0; i < cb; ++i) {
        nSeed = nSeed * 1664525u + 1013904223u;
        bytes += char(nSeed >> 24);
    }
    return bytes;
}

}  // namespace resumable_test
