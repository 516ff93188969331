// The reading steps that FormParts::Parse (the whole body at once) and
// PartStream (the body in pieces) share, so that both read every body alike:
// the first line, what follows a delimiter, a part's header block, and the
// index's text store and part array (part_reading.cpp). Private to formscan.
#pragma once
#include <cstddef>
#include <cstdint>

#include "formscan/form_part_headers.h"
#include "formscan/form_parts.h"
#include "formscan/header_cursor.h"

namespace formscan {

// What the body's first line can be. A boundary may itself end in "--", so
// "--ab--" CR LF is both the delimiter line of boundary "ab--" and the
// closing line of a form with no field and boundary "ab". Both readers
// decide it alike: the line is the first delimiter when the first part's
// delimiter is found later in the body, and the closing line when the body
// ends before it.
struct FirstLine {
    // kOk when the line is a delimiter line (text, blanks, CR LF): then the
    // delimiter that begins every later part (CR LF "--" boundary) and the
    // offset of the line's LF are set. Otherwise why it is not one.
    PartsResult asDelimiter = PartsResult::kNotMultipart;
    // The line's text is also a closing line: "--", 1 to 200 bytes, "--".
    bool bClosing = false;
    // Where the line's text ends (before its blanks, CR and LF), for a line
    // that begins with "--"; 0 otherwise.
    std::uint32_t lTextEnd = 0;
    unsigned char abDelimiter[kcbMaxDelimiter];
    std::uint32_t cbDelimiter = 0, lLf = 0;
};

// Reads the first line, pb[0] .. pb[cb - 1] holding at least the whole line
// with its LF (or the whole body).
void ReadFirstLine(const unsigned char* pb, std::uint32_t cb, FirstLine* pLine);

// How a first line stands to a boundary named by the request itself.
enum class NamedLine {
    kDelimiter,  // its text is "--" boundary
    kClosing,    // its text is "--" boundary "--"
    kOther,
};
NamedLine CompareFirstLine(const unsigned char* pb, const FirstLine& line, const unsigned char* pbBoundary,
                           std::uint32_t cbBoundary);

// What the bytes after a delimiter make of it, read as they come: "--"
// closes the body; blanks (transport padding) then CR LF end the part;
// blanks then a bare LF are a bad line ending; anything else, or the body's
// end before any of these, makes the delimiter part of the content.
class DelimiterEnd {
public:
    enum Outcome { kMore, kContent, kNextPart, kClosing, kBadLineEnding };

    // Reads pb[lFrom] .. pb[lEnd - 1], the bytes after the delimiter (or
    // after those already read). *plStop: for kNextPart the offset after the
    // LF (the next part's first byte); for kContent the offset of the byte
    // that showed it (not itself read: a delimiter may begin there); for
    // kClosing the offset after the second '-'; for kMore lEnd.
    Outcome Read(const unsigned char* pb, std::uint32_t lFrom, std::uint32_t lEnd, std::uint32_t* plStop) {
        for (std::uint32_t l = lFrom; l < lEnd; ++l) {
            const unsigned char ch = pb[l];
            Outcome outcome = kMore;
            switch (m_state) {
            case kStart:
                if (ch == '-') m_state = kDash;
                else if (IsBlank(ch)) m_state = kBlanks, m_cbPadding = 1;
                else if (ch == '\r') m_state = kCr;
                else outcome = ch == '\n' ? kBadLineEnding : kContent;
                break;
            case kDash:
                outcome = ch == '-' ? kClosing : kContent;
                break;
            case kBlanks:
                if (IsBlank(ch)) ++m_cbPadding;
                else if (ch == '\r') m_state = kCr;
                else outcome = ch == '\n' ? kBadLineEnding : kContent;
                break;
            case kCr:
                outcome = ch == '\n' ? kNextPart : kContent;
                break;
            }
            if (outcome != kMore) {
                *plStop = outcome == kContent ? l : l + 1;
                return outcome;
            }
        }
        *plStop = lEnd;
        return kMore;
    }

    // Blanks read so far.
    std::uint32_t Padding() const { return m_cbPadding; }

private:
    enum State { kStart, kDash, kBlanks, kCr } m_state = kStart;
    std::uint32_t m_cbPadding = 0;
};

// A header whose value is being read: where the value lies (folds included).
struct PendingHeader {
    enum Kind { kNone, kDisposition, kContentType, kOther } kind = kNone;
    std::uint32_t lValueStart = 0, lValueEnd = 0;
};

// A part's header block, read line by line: the whole body reads it at once
// up to the part's delimiter; a stream reads each line as its LF arrives.
class HeaderBlock {
public:
    explicit HeaderBlock(std::uint32_t lStart = 0) : m_lLine(lStart) {}

    // Reads the lines from where the last call stopped whose LF lies before
    // lEnd. kOk: Complete() tells whether the blank line was read (a line
    // whose LF is not before lEnd waits for the next call; at the part's
    // delimiter it means the block has no blank line, kBadHeaders). Else the
    // error of the first bad line.
    PartsResult Read(const unsigned char* pb, std::uint32_t lEnd);

    bool Complete() const { return m_bComplete; }
    // Once Complete(): the offset of the value's first byte.
    std::uint32_t ValueStart() const { return m_lLine; }
    // The first Content-Disposition and the first Content-Type.
    const PendingHeader& Disposition() const { return m_disposition; }
    const PendingHeader& ContentType() const { return m_contentType; }

private:
    PendingHeader m_pending, m_disposition, m_contentType;
    std::uint32_t m_lLine;
    bool m_bComplete = false;
};

}  // namespace formscan

// Builds a FormParts: its text store and part array.
class PartsBuilder {
public:
    explicit PartsBuilder(FormParts& parts) : m_parts(parts) {}

    // Empties the index, keeping its memory (a parse into a used index).
    void Reset() {
        m_parts.m_nParts = 0;
        m_parts.m_cbText = 0;
    }
    // Empties the index and frees its memory (a failed parse).
    void Clear() { m_parts.Clear(); }

    // Copies the texts of a complete header block held at pb into the
    // store and sets the part's text offsets, lengths and flags. False
    // without memory.
    bool AddTexts(const unsigned char* pb, const formscan::HeaderBlock& headers, FormPart* pPart);
    // Appends a part to the index. False without memory.
    bool AddPart(const FormPart& part);

private:
    // Room for a new index's first parts and texts.
    static constexpr std::uint32_t kFirstPartsCapacity = 16, kFirstTextCapacity = 256;

    // Defined here so that AddTexts takes it in whole: it runs once a part.
    bool ReserveText(std::uint64_t cb) {
        return ReserveItems(m_parts.m_text, &m_parts.m_cbTextCapacity, m_parts.m_cbText + cb, 1, kFirstTextCapacity);
    }
    void Append(const unsigned char* pb, const formscan::HeaderText& text, std::uint32_t* plOffset,
                std::uint32_t* pcb);

    FormParts& m_parts;
};
