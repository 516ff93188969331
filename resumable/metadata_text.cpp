#include "resumable/metadata_text.h"

#include <cstdint>

namespace resumable {

namespace {

constexpr char16_t kchReplacement = 0xFFFD;

class TextOut {
public:
    TextOut(char16_t* pch, std::size_t cchCapacity) : m_pch(pch), m_cchCapacity(cchCapacity) {}

    void Put(char16_t ch) {
        if (m_cch < m_cchCapacity) m_pch[m_cch] = ch;
        ++m_cch;
    }
    std::size_t Length() const { return m_cch; }

private:
    char16_t* m_pch;
    std::size_t m_cchCapacity;
    std::size_t m_cch = 0;
};

void PutCodePoint(TextOut& out, std::uint32_t uCode) {
    if (uCode < 0x20 || uCode == 0x7F) {
        out.Put(kchReplacement);
    } else if (uCode < 0x10000) {
        out.Put(static_cast<char16_t>(uCode));
    } else {
        uCode -= 0x10000;
        out.Put(static_cast<char16_t>(0xD800 + (uCode >> 10)));
        out.Put(static_cast<char16_t>(0xDC00 + (uCode & 0x3FF)));
    }
}

}  // namespace

std::size_t DecodeMetadataText(const unsigned char* pb, std::size_t cb, char16_t* pchText, std::size_t cchCapacity) {
    TextOut out(pchText, pchText ? cchCapacity : 0);
    if (!pb) return 0;
    std::size_t l = 0;
    while (l < cb) {
        const unsigned ch = pb[l++];
        if (ch < 0x80) {
            PutCodePoint(out, ch);
            continue;
        }
        // Continuation bytes to follow, and the range of the first of them
        // (Table 3-7: it alone rules out overlong forms, surrogates and code
        // points past U+10FFFF).
        unsigned nMore, lo = 0x80, hi = 0xBF;
        if (ch >= 0xC2 && ch <= 0xDF) nMore = 1;
        else if (ch >= 0xE0 && ch <= 0xEF) nMore = 2;
        else if (ch >= 0xF0 && ch <= 0xF4) nMore = 3;
        else {
            out.Put(kchReplacement);  // a byte no character begins with
            continue;
        }
        if (ch == 0xE0) lo = 0xA0;
        else if (ch == 0xED) hi = 0x9F;
        else if (ch == 0xF0) lo = 0x90;
        else if (ch == 0xF4) hi = 0x8F;
        std::uint32_t uCode = ch & (0x3F >> nMore);
        unsigned k = 0;
        for (; k < nMore && l < cb; ++k, ++l) {
            const unsigned chMore = pb[l];
            if (chMore < (k == 0 ? lo : 0x80u) || chMore > (k == 0 ? hi : 0xBFu)) break;
            uCode = uCode << 6 | (chMore & 0x3F);
        }
        // A sequence cut short is one maximal subpart, and its bytes give
        // one U+FFFD; the byte that broke it starts afresh.
        if (k < nMore) out.Put(kchReplacement);
        else PutCodePoint(out, uCode);
    }
    return out.Length();
}

}  // namespace resumable
