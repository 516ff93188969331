// The input of the multipart fuzz targets (fuzz_form_parts, fuzz_part_stream):
//   byte 0: bits 0-3 the part limit (0: none); bits 4-7 v: v != 0 makes
//           every allocation after the first v-1 fail.
//   the rest: the body, copied to its own exact-size block, so that a read
//           at or beyond its end is caught.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

struct PartsInput {
    PartsInput(const std::uint8_t* data, std::size_t size)
        : nMax(data[0] & 15),
          lFailAfter(static_cast<long>(data[0] >> 4) - 1),
          cb(static_cast<std::uint32_t>(size - 1)),
          body(new unsigned char[cb ? cb : 1]) {
        if (cb) std::memcpy(body.get(), data + 1, cb);
    }
    // The body, or null when it is empty.
    const unsigned char* Body() const { return cb ? body.get() : nullptr; }

    std::uint32_t nMax;
    long lFailAfter;  // -1: never
    std::uint32_t cb;
    std::unique_ptr<unsigned char[]> body;
};
