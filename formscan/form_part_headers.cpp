// Content-Disposition parameters and header values of one part.
//
// Backslashes in quoted strings: a backslash escapes only '"' and '\'; before
// any other byte it is data. Clients that do not escape (file names sent as
// full client paths, C:\dir\x.txt) keep their paths intact that way. Browsers
// never escape at all, and in Shift_JIS a double-byte character may end in
// 0x5C, the byte of '\', right before the closing quote (name="\x95\x5C").
// So a quoted string is read with escapes, unless that reading runs past the
// end of the header or leaves bytes other than blanks before the next ';'
// while the reading that takes every backslash as data ends cleanly.
#include "formscan/form_part_headers.h"

#include "formscan/header_cursor.h"

namespace formscan {

namespace {

using Cursor = HeaderCursor<true>;

// The closing quote of a quoted string whose text begins at lFrom, or lEnd
// when it has none.
std::uint32_t QuoteEnd(const unsigned char* pb, std::uint32_t lFrom, std::uint32_t lEnd, bool bEscapes) {
    Cursor c{pb, lFrom, lEnd};
    while (c.More()) {
        const unsigned char ch = c.Peek();
        if (ch == '"') return c.lPos;
        ++c.lPos;
        if (ch == '\\' && bEscapes && c.More() && (c.Peek() == '"' || c.Peek() == '\\')) ++c.lPos;
    }
    return lEnd;
}

// 2: closed and followed by blanks up to a ';' or the end; 1: closed; 0: not.
int QuoteFit(const unsigned char* pb, std::uint32_t lClose, std::uint32_t lEnd) {
    if (lClose >= lEnd) return 0;
    Cursor c{pb, lClose + 1, lEnd};
    c.SkipBlanks();
    return !c.More() || c.Peek() == ';' ? 2 : 1;
}

unsigned char LowerAscii(unsigned char ch) { return ch >= 'A' && ch <= 'Z' ? static_cast<unsigned char>(ch + 32) : ch; }

int HexValue(unsigned char ch) {
    if (ch >= '0' && ch <= '9') return ch - '0';
    ch = LowerAscii(ch);
    if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
    return -1;
}

bool IsWellFormedUtf8(const unsigned char* pb, std::uint32_t cb) {
    std::uint32_t i = 0;
    while (i < cb) {
        const unsigned char lead = pb[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::uint32_t cbChar, uMin, uCode;
        if ((lead & 0xE0) == 0xC0) cbChar = 2, uMin = 0x80, uCode = lead & 0x1F;
        else if ((lead & 0xF0) == 0xE0) cbChar = 3, uMin = 0x800, uCode = lead & 0x0F;
        else if ((lead & 0xF8) == 0xF0) cbChar = 4, uMin = 0x10000, uCode = lead & 0x07;
        else return false;
        if (cb - i < cbChar) return false;
        for (std::uint32_t k = 1; k < cbChar; ++k) {
            if ((pb[i + k] & 0xC0) != 0x80) return false;
            uCode = (uCode << 6) | (pb[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF.
        if (uCode < uMin || uCode > 0x10FFFF || (uCode >= 0xD800 && uCode <= 0xDFFF)) return false;
        i += cbChar;
    }
    return true;
}

}  // namespace

bool EqualsIgnoringCase(const unsigned char* pb, std::uint32_t lStart, std::uint32_t lEnd, const char* pszLower) {
    std::uint32_t i = lStart;
    for (; *pszLower; ++pszLower, ++i)
        if (i >= lEnd || LowerAscii(pb[i]) != static_cast<unsigned char>(*pszLower)) return false;
    return i == lEnd;
}

void ReadDisposition(const unsigned char* pb, std::uint32_t lStart, std::uint32_t lEnd, DispositionParams* pParams) {
    *pParams = DispositionParams{};
    Cursor c{pb, lStart, lEnd};
    c.SkipPast(';');  // the disposition type (form-data) says nothing the index keeps
    while (c.More()) {
        std::uint32_t lNameStart, lNameEnd;
        if (!c.ReadParameterName(&lNameStart, &lNameEnd)) {
            c.SkipPast(';');
            continue;
        }
        HeaderText value;
        value.bPresent = true;
        if (c.More() && c.Peek() == '"') {
            const std::uint32_t lFrom = c.lPos + 1;
            const std::uint32_t lEscaped = QuoteEnd(pb, lFrom, lEnd, true);
            const std::uint32_t lLiteral = QuoteEnd(pb, lFrom, lEnd, false);
            const bool bLiteral = QuoteFit(pb, lLiteral, lEnd) > QuoteFit(pb, lEscaped, lEnd);
            value.lStart = lFrom;
            value.lEnd = bLiteral ? lLiteral : lEscaped;
            value.kind = bLiteral ? TextKind::kQuotedLiteral : TextKind::kQuoted;
            c.lPos = value.lEnd < lEnd ? value.lEnd + 1 : lEnd;
        } else {
            value.lStart = c.lPos;
            c.SkipPast(';');
            value.lEnd = c.lPos;
            while (value.lEnd > value.lStart &&
                   (IsBlank(pb[value.lEnd - 1]) || pb[value.lEnd - 1] == '\r' || pb[value.lEnd - 1] == '\n'))
                --value.lEnd;
        }
        HeaderText* pTarget = nullptr;
        if (EqualsIgnoringCase(pb, lNameStart, lNameEnd, "name")) pTarget = &pParams->name;
        else if (EqualsIgnoringCase(pb, lNameStart, lNameEnd, "filename")) pTarget = &pParams->fileName;
        else if (EqualsIgnoringCase(pb, lNameStart, lNameEnd, "filename*")) pTarget = &pParams->fileNameExt;
        if (pTarget && !pTarget->bPresent) *pTarget = value;
        c.SkipPast(';');
    }
}

HeaderText TrimmedValue(const unsigned char* pb, std::uint32_t lStart, std::uint32_t lEnd) {
    Cursor c{pb, lStart, lEnd};
    c.SkipBlanks();
    HeaderText text;
    text.lStart = c.lPos;
    text.lEnd = lEnd;
    while (text.lEnd > text.lStart &&
           (IsBlank(pb[text.lEnd - 1]) || pb[text.lEnd - 1] == '\r' || pb[text.lEnd - 1] == '\n'))
        --text.lEnd;
    text.bPresent = true;
    return text;
}

std::uint32_t CopyText(const unsigned char* pb, const HeaderText& text, unsigned char* pbOut) {
    std::uint32_t cb = 0;
    Cursor c{pb, text.lStart, text.lEnd};
    while (c.More()) {
        unsigned char ch = c.Peek();
        ++c.lPos;
        if (ch == '\\' && text.kind == TextKind::kQuoted && c.More() && (c.Peek() == '"' || c.Peek() == '\\')) {
            ch = c.Peek();
            ++c.lPos;
        }
        pbOut[cb++] = ch;
    }
    return cb;
}

bool DecodeUtf8ExtValue(unsigned char* pb, std::uint32_t* pcb) {
    const std::uint32_t cb = *pcb;
    std::uint32_t lCharsetEnd = 0;
    while (lCharsetEnd < cb && pb[lCharsetEnd] != '\'') ++lCharsetEnd;
    if (lCharsetEnd == cb || !EqualsIgnoringCase(pb, 0, lCharsetEnd, "utf-8")) return false;
    std::uint32_t lText = lCharsetEnd + 1;
    while (lText < cb && pb[lText] != '\'') ++lText;
    if (lText == cb) return false;
    ++lText;
    // Check the escapes before writing: on failure the bytes stay as sent.
    for (std::uint32_t i = lText; i < cb; ++i) {
        if (pb[i] != '%') continue;
        if (cb - i < 3 || HexValue(pb[i + 1]) < 0 || HexValue(pb[i + 2]) < 0) return false;
        i += 2;
    }
    // Decoded bytes are never more than encoded ones: decode in place, then
    // check the result; on a failure there the caller copies the text again.
    std::uint32_t cbOut = 0;
    for (std::uint32_t i = lText; i < cb; ++i) {
        if (pb[i] == '%') {
            pb[cbOut++] = static_cast<unsigned char>(HexValue(pb[i + 1]) * 16 + HexValue(pb[i + 2]));
            i += 2;
        } else {
            pb[cbOut++] = pb[i];
        }
    }
    if (!IsWellFormedUtf8(pb, cbOut)) return false;
    *pcb = cbOut;
    return true;
}

}  // namespace formscan
