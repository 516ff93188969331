// CRC-32 of ISO 3309 (the one PNG's chunks and zip entries carry), bit by
// bit: its users check a few dozen bytes or a record of a few kilobytes.
// Header only, so that the portable cores share it without a library.
#pragma once
#include <cstddef>
#include <cstdint>

inline std::uint32_t Crc32(const unsigned char* pb, std::size_t cb) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = 0; i < cb; ++i) {
        crc ^= pb[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}
