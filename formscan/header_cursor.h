// A cursor over a header value, for the two readers of header parameters: a
// part's Content-Disposition (form_part_headers.cpp) and a request's
// Content-Type (content_type.cpp). Both walk "; name = value" alike; how a
// quoted value is read differs between them and stays with each.
#pragma once
#include <cstdint>

namespace formscan {

inline bool IsBlank(unsigned char ch) { return ch == ' ' || ch == '\t'; }

// kFolds: the value may be folded (a part's header: CR LF before a blank);
// each CR LF is stepped over and the blank after it kept, as unfolding does.
// A request's Content-Type reaches the page unfolded.
template <bool kFolds>
struct HeaderCursor {
    const unsigned char* pb;
    std::uint32_t lPos, lEnd;

    bool More() {
        if constexpr (kFolds)
            while (lEnd - lPos >= 2 && pb[lPos] == '\r' && pb[lPos + 1] == '\n') lPos += 2;
        return lPos < lEnd;
    }
    unsigned char Peek() const { return pb[lPos]; }
    void SkipBlanks() {
        while (More() && IsBlank(Peek())) ++lPos;
    }
    void SkipPast(unsigned char ch) {
        while (More() && Peek() != ch) ++lPos;
    }

    // On the ';' before a parameter: reads its name and its '='. True with
    // the name at *plNameStart .. *plNameEnd - 1 and the cursor on the
    // value, blanks skipped; false for a parameter without a value.
    bool ReadParameterName(std::uint32_t* plNameStart, std::uint32_t* plNameEnd) {
        ++lPos;  // the ';'
        SkipBlanks();
        *plNameStart = lPos;
        while (More() && Peek() != '=' && Peek() != ';' && !IsBlank(Peek())) ++lPos;
        *plNameEnd = lPos;
        SkipBlanks();
        if (!More() || Peek() != '=') return false;
        ++lPos;
        SkipBlanks();
        return true;
    }
};

}  // namespace formscan
