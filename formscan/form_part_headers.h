// The header texts of one part as FormParts reads them: Content-Disposition
// parameters and the Content-Type value, located in the body and copied out
// with folds removed and quoted-string escapes undone.
#pragma once
#include <cstdint>

namespace formscan {

// How a located text is read when it is copied.
enum class TextKind : std::uint8_t {
    kPlain,          // as it stands (a token, a header value)
    kQuoted,         // inside a quoted string: \" and \\ stand for " and \ .
    kQuotedLiteral,  // inside a quoted string whose backslashes are data (see form_part_headers.cpp)
};

// Bytes lStart .. lEnd - 1 of the body; a header value may hold folds (CR LF
// before a blank), which are not part of the text.
struct HeaderText {
    std::uint32_t lStart = 0, lEnd = 0;
    TextKind kind = TextKind::kPlain;
    bool bPresent = false;
};

struct DispositionParams {
    HeaderText name, fileName, fileNameExt;  // name=, filename=, filename*= (first of each)
};

// Reads the parameters of a Content-Disposition value (lStart .. lEnd - 1).
void ReadDisposition(const unsigned char* pb, std::uint32_t lStart, std::uint32_t lEnd, DispositionParams* pParams);

// A header value without its leading and trailing blanks.
HeaderText TrimmedValue(const unsigned char* pb, std::uint32_t lStart, std::uint32_t lEnd);

// Copies the text to pbOut (room for lEnd - lStart bytes); returns the bytes
// written.
std::uint32_t CopyText(const unsigned char* pb, const HeaderText& text, unsigned char* pbOut);

// Decodes an RFC 5987 ext-value (charset'language'percent-encoded) held at
// pb in place. True, with *pcb the length of the decoded bytes, when the
// charset is UTF-8 and the value decodes to well-formed UTF-8; otherwise
// false, and the bytes may have been overwritten (copy the text again).
bool DecodeUtf8ExtValue(unsigned char* pb, std::uint32_t* pcb);

// Whether bytes lStart .. lEnd - 1 spell pszLower, ignoring ASCII case.
bool EqualsIgnoringCase(const unsigned char* pb, std::uint32_t lStart, std::uint32_t lEnd, const char* pszLower);

}  // namespace formscan
