// Reading fixed fields out of a file's first bytes, every read checked
// against what was given: a field that does not lie wholly inside the bytes
// is never read.
#pragma once
#include <cstddef>
#include <cstdint>

namespace filefacts {

struct HeaderBytes {
    const unsigned char* pb;
    std::size_t cb;

    // Whether cbField bytes at l lie inside the bytes (no sum that can wrap).
    bool Has(std::size_t l, std::size_t cbField) const { return l <= cb && cbField <= cb - l; }
    // Whether the bytes at l are the cbText bytes of pszText.
    bool Is(std::size_t l, const char* pszText, std::size_t cbText) const {
        if (!Has(l, cbText)) return false;
        for (std::size_t i = 0; i < cbText; ++i)
            if (pb[l + i] != static_cast<unsigned char>(pszText[i])) return false;
        return true;
    }
    template <std::size_t N>
    bool Is(std::size_t l, const char (&szText)[N]) const {
        return Is(l, szText, N - 1);
    }

    // The readers below are called only after Has(l, size of the field).
    std::uint32_t U16LE(std::size_t l) const { return pb[l] | std::uint32_t(pb[l + 1]) << 8; }
    std::uint32_t U16BE(std::size_t l) const { return std::uint32_t(pb[l]) << 8 | pb[l + 1]; }
    std::uint32_t U24LE(std::size_t l) const { return U16LE(l) | std::uint32_t(pb[l + 2]) << 16; }
    std::uint32_t U32LE(std::size_t l) const { return U16LE(l) | U16LE(l + 2) << 16; }
    std::uint32_t U32BE(std::size_t l) const { return U16BE(l) << 16 | U16BE(l + 2); }
    std::uint64_t U64LE(std::size_t l) const { return U32LE(l) | std::uint64_t(U32LE(l + 4)) << 32; }
};

// The image formats ImageSize reads, recognised by the same tests in
// DetectedType, so that a size never comes without an image type.
bool IsPng(const HeaderBytes& h);
bool IsJpeg(const HeaderBytes& h);
bool IsGif(const HeaderBytes& h);
bool IsBmp(const HeaderBytes& h);
bool IsWebP(const HeaderBytes& h);

}  // namespace filefacts
