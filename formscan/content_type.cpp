#include "formscan/content_type.h"

#include "formscan/form_part_headers.h"

namespace formscan {

namespace {

bool IsWhite(unsigned char ch) { return ch == ' ' || ch == '\t'; }

struct Reader {
    const unsigned char* pb;
    std::uint32_t l, cb;

    bool More() const { return l < cb; }
    void SkipWhite() {
        while (l < cb && IsWhite(pb[l])) ++l;
    }
    // To the next ';' outside a quoted string, or the end.
    void SkipToSemicolon() {
        bool bQuoted = false;
        for (; l < cb; ++l) {
            if (bQuoted && pb[l] == '\\' && l + 1 < cb) ++l;
            else if (pb[l] == '"') bQuoted = !bQuoted;
            else if (!bQuoted && pb[l] == ';') return;
        }
    }
};

// RFC 2046's bchars, leniently: any printable ASCII, but not a blank last
// (a blank there is transport padding of the delimiter line).
bool Usable(const unsigned char* pb, std::uint32_t cb) {
    if (cb == 0 || cb > kcbMaxBoundary || IsWhite(pb[cb - 1])) return false;
    for (std::uint32_t i = 0; i < cb; ++i)
        if (pb[i] < 0x20 || pb[i] > 0x7E) return false;
    return true;
}

}  // namespace

bool ContentTypeBoundary(const unsigned char* pb, std::uint32_t cb, unsigned char* abBoundary,
                         std::uint32_t* pcbBoundary) {
    *pcbBoundary = 0;
    Reader r{pb, 0, pb ? cb : 0};
    r.SkipWhite();
    const std::uint32_t lType = r.l;
    while (r.More() && pb[r.l] != '/' && pb[r.l] != ';') ++r.l;
    if (!r.More() || pb[r.l] != '/' || !EqualsIgnoringCase(pb, lType, r.l, "multipart")) return false;
    r.SkipToSemicolon();  // the subtype: form-data, or any other
    while (r.More()) {
        ++r.l;  // the ';'
        r.SkipWhite();
        const std::uint32_t lName = r.l;
        while (r.More() && pb[r.l] != '=' && pb[r.l] != ';' && !IsWhite(pb[r.l])) ++r.l;
        const bool bBoundary = EqualsIgnoringCase(pb, lName, r.l, "boundary");
        r.SkipWhite();
        if (!r.More() || pb[r.l] != '=') {
            r.SkipToSemicolon();  // a parameter without a value
            continue;
        }
        ++r.l;
        r.SkipWhite();
        std::uint32_t cbValue = 0;
        if (r.More() && pb[r.l] == '"') {
            // A quoted string: a backslash takes the next byte as it is.
            bool bClosed = false;
            for (++r.l; r.More(); ++r.l) {
                unsigned char ch = pb[r.l];
                if (ch == '"') {
                    bClosed = true;
                    ++r.l;
                    break;
                }
                if (ch == '\\' && r.l + 1 < r.cb) ch = pb[++r.l];
                if (bBoundary && cbValue < kcbMaxBoundary) abBoundary[cbValue] = ch;
                ++cbValue;
            }
            if (!bClosed) return false;
        } else {
            const std::uint32_t lValue = r.l;
            while (r.More() && pb[r.l] != ';') ++r.l;
            std::uint32_t lEnd = r.l;
            while (lEnd > lValue && IsWhite(pb[lEnd - 1])) --lEnd;
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
        r.SkipToSemicolon();
    }
    return false;
}

}  // namespace formscan
