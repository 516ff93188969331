// FormParts: the whole body read at once, and the list of its delimiters
// found while it is copied. The reading steps PartStream shares are in
// part_reading.cpp.
#include "formscan/form_parts.h"

#include "formscan/byte_search.h"
#include "formscan/part_reading.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

using formscan::DelimiterEnd;
using formscan::HeaderBlock;

namespace {

// Reads one whole body into a FormParts; the caller clears the index on
// failure.
PartsResult ReadBody(PartsBuilder& builder, const unsigned char* pb, std::uint32_t cb, std::uint32_t nMaxParts,
                     const DelimiterList* pDelimiters) {
    formscan::FirstLine first;
    formscan::ReadFirstLine(pb, cb, &first);
    // A line that can only close is the closing line of a form with no field.
    if (first.asDelimiter != PartsResult::kOk) return first.bClosing ? PartsResult::kOk : first.asDelimiter;
    const unsigned char* const abDelimiter = first.abDelimiter;
    const std::uint32_t cbDelimiter = first.cbDelimiter;
    // A list found for another delimiter cannot stand in for the search.
    if (pDelimiters && !pDelimiters->IsFor(abDelimiter, cbDelimiter)) pDelimiters = nullptr;

    std::uint32_t lPart = first.lLf + 1;
    for (std::uint32_t nParts = 0;; ++nParts) {
        if (nMaxParts != 0 && nParts == nMaxParts) return PartsResult::kTooManyParts;
        // The part ends at the first delimiter that ends its line or the
        // body; other matches are content.
        std::uint32_t lDelimiter = 0, lNext = 0;
        DelimiterEnd::Outcome outcome = DelimiterEnd::kContent;
        for (std::uint32_t lSearch = lPart; outcome != DelimiterEnd::kNextPart && outcome != DelimiterEnd::kClosing;
             lSearch = lDelimiter + 1) {
            lDelimiter = pDelimiters ? pDelimiters->Next(lSearch)
                                     : ByteSearchWide(abDelimiter, cbDelimiter, pb, lSearch, cb);
            if (lDelimiter == kByteSearchNone) {
                // A first line that reads both ways was the closing line
                // when no later line is its delimiter.
                return nParts == 0 && first.bClosing ? PartsResult::kOk : PartsResult::kNoClosingLine;
            }
            outcome = DelimiterEnd().Read(pb, lDelimiter + cbDelimiter, cb, &lNext);
            if (outcome == DelimiterEnd::kBadLineEnding) return PartsResult::kBadLineEndings;
        }
        HeaderBlock headers(lPart);
        PartsResult result = headers.Read(pb, lDelimiter);
        if (result == PartsResult::kOk && !headers.Complete()) result = PartsResult::kBadHeaders;
        if (result != PartsResult::kOk) return result;
        FormPart part{};
        part.valueOffset = headers.ValueStart();
        part.valueLength = lDelimiter - part.valueOffset;
        if (!builder.AddTexts(pb, headers, &part) || !builder.AddPart(part)) return PartsResult::kNoMemory;
        if (outcome == DelimiterEnd::kClosing) return PartsResult::kOk;
        lPart = lNext;
    }
}

}  // namespace

FormParts::~FormParts() = default;

FormParts::FormParts(FormParts&& other)
    : m_parts(static_cast<ModuleBlock&&>(other.m_parts)),
      m_text(static_cast<ModuleBlock&&>(other.m_text)),
      m_nParts(other.m_nParts),
      m_nPartsCapacity(other.m_nPartsCapacity),
      m_cbText(other.m_cbText),
      m_cbTextCapacity(other.m_cbTextCapacity) {
    other.Clear();
}

FormParts& FormParts::operator=(FormParts&& other) {
    if (this != &other) {
        m_parts = static_cast<ModuleBlock&&>(other.m_parts);
        m_text = static_cast<ModuleBlock&&>(other.m_text);
        m_nParts = other.m_nParts;
        m_nPartsCapacity = other.m_nPartsCapacity;
        m_cbText = other.m_cbText;
        m_cbTextCapacity = other.m_cbTextCapacity;
        other.Clear();
    }
    return *this;
}

void FormParts::Clear() {
    m_parts.reset();
    m_text.reset();
    m_nParts = m_nPartsCapacity = 0;
    m_cbText = m_cbTextCapacity = 0;
}

PartsResult FormParts::Parse(const unsigned char* pbBody, std::uint32_t cbBody, std::uint32_t nMaxParts,
                             const DelimiterList* pDelimiters) {
    PartsBuilder builder(*this);
    builder.Reset();
    const PartsResult result = ReadBody(builder, pbBody, cbBody, nMaxParts, pDelimiters);
    if (result != PartsResult::kOk) Clear();
    return result;
}

DelimiterList::~DelimiterList() = default;

bool DelimiterList::CopyAndFind(unsigned char* pbDest, const unsigned char* pbSource, std::uint32_t cb) {
    m_nPositions = 0;
    m_cbDelimiter = 0;
    formscan::FirstLine first;
    formscan::ReadFirstLine(pbSource, cb, &first);
    if (first.asDelimiter != PartsResult::kOk) {
        // Nothing to look for: the parse decides what the body is.
        if (cb) std::memcpy(pbDest, pbSource, cb);
        return true;
    }
    std::memcpy(m_abDelimiter, first.abDelimiter, first.cbDelimiter);
    m_cbDelimiter = first.cbDelimiter;
    // Each piece is searched right after it is copied, while it is still in
    // the cache: the body is read from memory once, not twice.
    constexpr std::uint32_t kcbPiece = 256u << 10;
    for (std::uint32_t lDone = 0; lDone < cb;) {
        const std::uint32_t cbPiece = cb - lDone < kcbPiece ? cb - lDone : kcbPiece;
        std::memcpy(pbDest + lDone, pbSource + lDone, cbPiece);
        lDone += cbPiece;
        // Matches that end in this piece; one may begin in the piece before.
        const std::uint32_t lFrom = lDone - cbPiece > m_cbDelimiter - 1 ? lDone - cbPiece - (m_cbDelimiter - 1) : 0;
        for (std::uint32_t l = lFrom;;) {
            const std::uint32_t lMatch = ByteSearchWide(m_abDelimiter, m_cbDelimiter, pbDest, l, lDone);
            if (lMatch == kByteSearchNone) break;
            if (!ReserveItems(m_positions, &m_nCapacity, m_nPositions + 1ull, sizeof(std::uint32_t), 64)) return false;
            m_positions.as<std::uint32_t>()[m_nPositions++] = lMatch;
            l = lMatch + 1;
        }
    }
    return true;
}

bool DelimiterList::IsFor(const unsigned char* abDelimiter, std::uint32_t cbDelimiter) const {
    return m_cbDelimiter != 0 && cbDelimiter == m_cbDelimiter && std::memcmp(abDelimiter, m_abDelimiter, cbDelimiter) == 0;
}

std::uint32_t DelimiterList::Next(std::uint32_t lFrom) const {
    const std::uint32_t* pBegin = m_positions.as<std::uint32_t>();
    const std::uint32_t* pEnd = pBegin + m_nPositions;
    const std::uint32_t* p = std::lower_bound(pBegin, pEnd, lFrom);
    return p == pEnd ? kByteSearchNone : *p;
}
