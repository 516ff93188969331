#include "formscan/content_type.h"

#include "formscan/form_part_headers.h"
#include "formscan/header_cursor.h"

namespace formscan {

namespace {

using Cursor = HeaderCursor<false>;

// The next ';' from lFrom outside a quoted string, or lEnd.
std::uint32_t NextSemicolon(const unsigned char* pb, std::uint32_t lFrom, std::uint32_t lEnd) {
    bool bQuoted = false;
    for (std::uint32_t l = lFrom; l < lEnd; ++l) {
        if (bQuoted && pb[l] == '\\' && l + 1 < lEnd) ++l;
        else if (pb[l] == '"') bQuoted = !bQuoted;
        else if (!bQuoted && pb[l] == ';') return l;
    }
    return lEnd;
}

// RFC 2046's bchars, leniently: any printable ASCII, but not a blank last
// (a blank there is transport padding of the delimiter line).
bool Usable(const unsigned char* pb, std::uint32_t cb) {
    if (cb == 0 || cb > kcbMaxBoundary || IsBlank(pb[cb - 1])) return false;
    for (std::uint32_t i = 0; i < cb; ++i)
        if (pb[i] < 0x20 || pb[i] > 0x7E) return false;
    return true;
}

}  // namespace

bool ContentTypeBoundary(const unsigned char* pb, std::uint32_t cb, unsigned char* abBoundary,
                         std::uint32_t* pcbBoundary) {
    *pcbBoundary = 0;
    Cursor c{pb, 0, pb ? cb : 0};
    c.SkipBlanks();
    const std::uint32_t lType = c.lPos;
    while (c.More() && c.Peek() != '/' && c.Peek() != ';') ++c.lPos;
    if (!c.More() || c.Peek() != '/' || !EqualsIgnoringCase(pb, lType, c.lPos, "multipart")) return false;
    c.lPos = NextSemicolon(pb, c.lPos, c.lEnd);  // the subtype: form-data, or any other
    while (c.More()) {
        std::uint32_t lName, lNameEnd;
        const bool bValue = c.ReadParameterName(&lName, &lNameEnd);
        const bool bBoundary = EqualsIgnoringCase(pb, lName, lNameEnd, "boundary");
        if (!bValue) {
            c.lPos = NextSemicolon(pb, c.lPos, c.lEnd);  // a parameter without a value
            continue;
        }
        std::uint32_t cbValue = 0;
        if (c.More() && c.Peek() == '"') {
            // A quoted string: a backslash takes the next byte as it is.
            bool bClosed = false;
            for (++c.lPos; c.More(); ++c.lPos) {
                unsigned char ch = c.Peek();
                if (ch == '"') {
                    bClosed = true;
                    ++c.lPos;
                    break;
                }
                if (ch == '\\' && c.lPos + 1 < c.lEnd) ch = pb[++c.lPos];
                if (bBoundary && cbValue < kcbMaxBoundary) abBoundary[cbValue] = ch;
                ++cbValue;
            }
            if (!bClosed) return false;
        } else {
            const std::uint32_t lValue = c.lPos;
            c.SkipPast(';');
            std::uint32_t lEnd = c.lPos;
            while (lEnd > lValue && IsBlank(pb[lEnd - 1])) --lEnd;
            cbValue = lEnd - lValue;
            if (bBoundary && cbValue <= kcbMaxBoundary)
                for (std::uint32_t i = 0; i < cbValue; ++i) abBoundary[i] = pb[lValue + i];
        }
        // The first boundary parameter decides, as the first of each
        // Content-Disposition parameter does.
        if (bBoundary) {
            if (!Usable(abBoundary, cbValue)) return false;
            *pcbBoundary = cbValue;
            return true;
        }
        c.lPos = NextSemicolon(pb, c.lPos, c.lEnd);
    }
    return false;
}

}  // namespace formscan
