#include "resumable/concat_header.h"

#include <cstring>

namespace resumable {

namespace {

bool IsUrlByte(unsigned char ch) { return ch > 0x20 && ch < 0x7F; }

bool StartsWith(const unsigned char* pb, std::size_t cb, const char* psz) {
    const std::size_t cch = std::strlen(psz);
    return cb >= cch && std::memcmp(pb, psz, cch) == 0;
}

ConcatStatus ReadFinal(const unsigned char* pb, std::size_t l, std::size_t cb, UploadConcat* pConcat) {
    for (;;) {
        std::size_t lEnd = l;
        while (lEnd < cb && pb[lEnd] != ' ') ++lEnd;
        if (lEnd == l) return ConcatStatus::kMalformed;  // "final;", a space first or last, two spaces
        for (std::size_t i = l; i < lEnd; ++i)
            if (!IsUrlByte(pb[i])) return ConcatStatus::kMalformed;
        if (pConcat->nUrls == kMaxConcatParts) return ConcatStatus::kTooLong;
        pConcat->aUrls[pConcat->nUrls++] = {static_cast<std::uint32_t>(l), static_cast<std::uint32_t>(lEnd - l)};
        if (lEnd == cb) return ConcatStatus::kFinal;
        l = lEnd + 1;
    }
}

}  // namespace

ConcatStatus ReadUploadConcat(const unsigned char* pb, std::size_t cb, UploadConcat* pConcat) {
    pConcat->nUrls = 0;
    if (!pb || cb == 0) return ConcatStatus::kAbsent;
    if (cb > kcbMaxConcatHeader) return ConcatStatus::kTooLong;
    if (cb == 7 && StartsWith(pb, cb, "partial")) return ConcatStatus::kPartial;
    if (!StartsWith(pb, cb, "final;")) return ConcatStatus::kMalformed;
    const ConcatStatus status = ReadFinal(pb, 6, cb, pConcat);
    if (status != ConcatStatus::kFinal) pConcat->nUrls = 0;
    return status;
}

}  // namespace resumable
