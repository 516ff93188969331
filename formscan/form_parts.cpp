// FormParts: delimiter lines and header blocks; the header texts themselves
// are read in form_part_headers.cpp.
#include "formscan/form_parts.h"

#include "formscan/byte_search.h"
#include "formscan/form_part_headers.h"

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <cstring>

using formscan::DispositionParams;
using formscan::HeaderText;

namespace {

// RFC 2046 allows 70 bytes; some clients send longer boundaries.
constexpr std::uint32_t kMaxBoundary = 200;
static_assert(kcbMaxDelimiter == 4 + kMaxBoundary, "room for CR LF, \"--\" and the boundary");
constexpr std::uint32_t kFirstPartsCapacity = 16;
constexpr std::uint32_t kFirstTextCapacity = 256;

bool IsBlank(unsigned char ch) { return ch == ' ' || ch == '\t'; }

std::uint32_t FindByte(const unsigned char* pb, std::uint32_t lStart, std::uint32_t lEnd, unsigned char ch) {
    if (lStart >= lEnd) return kByteSearchNone;
    const void* pv = std::memchr(pb + lStart, ch, lEnd - lStart);
    return pv ? static_cast<std::uint32_t>(static_cast<const unsigned char*>(pv) - pb) : kByteSearchNone;
}

// Grows a module-heap block to hold nCount items of cbItem bytes; false (the
// block unchanged) when the size does not fit or the heap refuses.
bool GrowBlock(ModuleBlock& block, std::uint64_t nCount, std::size_t cbItem) {
    const std::uint64_t cb = nCount * cbItem;
    if (nCount > 0xFFFFFFFFu || cb > SIZE_MAX) return false;
    void* pv = ModuleRealloc(block.get(), static_cast<std::size_t>(cb));
    if (!pv) return false;
    block.release();
    block.reset(pv);
    return true;
}

// A header being read: where its value lies (folds included).
struct PendingHeader {
    enum Kind { kNone, kDisposition, kContentType, kOther } kind = kNone;
    std::uint32_t lValueStart = 0, lValueEnd = 0;
};

}  // namespace

// The body's first line: kOk with the delimiter that begins every later
// part (CR LF "--" boundary) and the offset of the line's LF; kOk with an
// empty delimiter for a first line that is the closing line itself.
PartsResult ReadFirstLine(const unsigned char* pb, std::uint32_t cb, unsigned char* abDelimiter,
                          std::uint32_t* pcbDelimiter, std::uint32_t* plLf) {
    *pcbDelimiter = 0;
    if (!pb || cb < 3 || pb[0] != '-' || pb[1] != '-') return PartsResult::kNotMultipart;
    const std::uint32_t lLf = FindByte(pb, 0, cb, '\n');
    const std::uint32_t lLineEnd = lLf == kByteSearchNone ? cb : lLf;
    const bool bCrLf = lLf != kByteSearchNone && pb[lLf - 1] == '\r';
    std::uint32_t lTextEnd = bCrLf ? lLineEnd - 1 : lLineEnd;
    while (lTextEnd > 2 && IsBlank(pb[lTextEnd - 1])) --lTextEnd;
    const std::uint32_t cbBoundary = lTextEnd - 2;
    // A first line ending in "--" is taken as the closing line of a form
    // with no field: without the Content-Type header a boundary that
    // itself ends in "--" cannot be told from it.
    if (cbBoundary >= 3 && cbBoundary - 2 <= kMaxBoundary && pb[lTextEnd - 1] == '-' && pb[lTextEnd - 2] == '-')
        return PartsResult::kOk;
    if (lLf == kByteSearchNone || cbBoundary == 0 || cbBoundary > kMaxBoundary) return PartsResult::kNotMultipart;
    if (!bCrLf) return PartsResult::kBadLineEndings;
    abDelimiter[0] = '\r';
    abDelimiter[1] = '\n';
    std::memcpy(abDelimiter + 2, pb, cbBoundary + 2);
    *pcbDelimiter = cbBoundary + 4;
    *plLf = lLf;
    return PartsResult::kOk;
}

// Reads one body into a FormParts; the caller clears the index on failure.
class PartsBuilder {
public:
    PartsBuilder(FormParts& parts, const unsigned char* pb, std::uint32_t cb) : m_parts(parts), m_pb(pb), m_cb(cb) {}

    PartsResult Run(std::uint32_t nMaxParts, const DelimiterList* pDelimiters) {
        unsigned char abDelimiter[kcbMaxDelimiter];
        std::uint32_t cbDelimiter = 0, lLf = 0;
        const PartsResult first = ReadFirstLine(m_pb, m_cb, abDelimiter, &cbDelimiter, &lLf);
        if (first != PartsResult::kOk || cbDelimiter == 0) return first;
        // A list found for another delimiter cannot stand in for the search.
        if (pDelimiters && !pDelimiters->IsFor(abDelimiter, cbDelimiter)) pDelimiters = nullptr;

        std::uint32_t lPart = lLf + 1;
        for (;;) {
            if (nMaxParts != 0 && m_parts.m_nParts == nMaxParts) return PartsResult::kTooManyParts;
            // The part ends at the first delimiter that is followed by "--"
            // or by blanks and CR LF; other matches are content.
            std::uint32_t lDelimiter = 0, lNext = 0;
            bool bClosing = false;
            for (std::uint32_t lSearch = lPart;; lSearch = lDelimiter + 1) {
                lDelimiter = pDelimiters ? pDelimiters->Next(lSearch)
                                         : ByteSearchWide(abDelimiter, cbDelimiter, m_pb, lSearch, m_cb);
                if (lDelimiter == kByteSearchNone) return PartsResult::kNoClosingLine;
                std::uint32_t l = lDelimiter + cbDelimiter;
                if (m_cb - l >= 2 && m_pb[l] == '-' && m_pb[l + 1] == '-') {
                    bClosing = true;
                    break;
                }
                while (l < m_cb && IsBlank(m_pb[l])) ++l;  // transport padding
                if (l < m_cb && m_pb[l] == '\n') return PartsResult::kBadLineEndings;
                if (m_cb - l >= 2 && m_pb[l] == '\r' && m_pb[l + 1] == '\n') {
                    lNext = l + 2;
                    break;
                }
            }
            FormPart part{};
            const PartsResult result = ReadPart(lPart, lDelimiter, &part);
            if (result != PartsResult::kOk) return result;
            if (!AddPart(part)) return PartsResult::kNoMemory;
            if (bClosing) return PartsResult::kOk;
            lPart = lNext;
        }
    }

private:
    // The part in lStart .. lEnd - 1: its header block, then its value.
    PartsResult ReadPart(std::uint32_t lStart, std::uint32_t lEnd, FormPart* pPart) {
        PendingHeader pending, disposition, contentType;
        std::uint32_t lLine = lStart;
        for (;;) {
            const std::uint32_t lLf = FindByte(m_pb, lLine, lEnd, '\n');
            if (lLf == kByteSearchNone) return PartsResult::kBadHeaders;
            if (lLf == lLine || m_pb[lLf - 1] != '\r') return PartsResult::kBadLineEndings;
            const std::uint32_t lLineEnd = lLf - 1;
            if (lLineEnd == lLine) {
                pPart->valueOffset = lLf + 1;
                break;
            }
            if (IsBlank(m_pb[lLine])) {
                // A folded line continues the header before it.
                if (pending.kind == PendingHeader::kNone) return PartsResult::kBadHeaders;
                pending.lValueEnd = lLineEnd;
            } else {
                Keep(pending, disposition, contentType);
                const std::uint32_t lColon = FindByte(m_pb, lLine, lLineEnd, ':');
                if (lColon == kByteSearchNone) return PartsResult::kBadHeaders;
                std::uint32_t lNameEnd = lColon;
                while (lNameEnd > lLine && IsBlank(m_pb[lNameEnd - 1])) --lNameEnd;
                pending.kind = formscan::EqualsIgnoringCase(m_pb, lLine, lNameEnd, "content-disposition")
                                   ? PendingHeader::kDisposition
                               : formscan::EqualsIgnoringCase(m_pb, lLine, lNameEnd, "content-type")
                                   ? PendingHeader::kContentType
                                   : PendingHeader::kOther;
                pending.lValueStart = lColon + 1;
                pending.lValueEnd = lLineEnd;
            }
            lLine = lLf + 1;
        }
        Keep(pending, disposition, contentType);
        pPart->valueLength = lEnd - pPart->valueOffset;

        DispositionParams params;
        if (disposition.kind != PendingHeader::kNone)
            formscan::ReadDisposition(m_pb, disposition.lValueStart, disposition.lValueEnd, &params);
        HeaderText type;
        if (contentType.kind != PendingHeader::kNone)
            type = formscan::TrimmedValue(m_pb, contentType.lValueStart, contentType.lValueEnd);
        const std::uint64_t cbTexts = Length(params.name) + Length(params.fileName) + Length(params.fileNameExt) +
                                      Length(type);
        if (!ReserveText(cbTexts)) return PartsResult::kNoMemory;

        Append(params.name, &pPart->nameOffset, &pPart->nameLength);
        if (params.fileNameExt.bPresent) {
            // filename* when it decodes; else filename=, else its own bytes.
            Append(params.fileNameExt, &pPart->fileNameOffset, &pPart->fileNameLength);
            unsigned char* pbName = m_parts.m_text.as<unsigned char>() + pPart->fileNameOffset;
            std::uint32_t cbName = pPart->fileNameLength;
            m_parts.m_cbText = pPart->fileNameOffset;
            if (formscan::DecodeUtf8ExtValue(pbName, &cbName)) {
                m_parts.m_cbText += cbName;
                pPart->fileNameLength = cbName;
                pPart->flags |= kPartFileNameUtf8;
            } else {
                Append(params.fileName.bPresent ? params.fileName : params.fileNameExt, &pPart->fileNameOffset,
                       &pPart->fileNameLength);
            }
        } else {
            Append(params.fileName, &pPart->fileNameOffset, &pPart->fileNameLength);
        }
        if (params.fileName.bPresent || params.fileNameExt.bPresent) pPart->flags |= kPartHasFileName;
        Append(type, &pPart->contentTypeOffset, &pPart->contentTypeLength);
        return PartsResult::kOk;
    }

    // The first Content-Disposition and the first Content-Type count.
    static void Keep(const PendingHeader& pending, PendingHeader& disposition, PendingHeader& contentType) {
        if (pending.kind == PendingHeader::kDisposition && disposition.kind == PendingHeader::kNone)
            disposition = pending;
        else if (pending.kind == PendingHeader::kContentType && contentType.kind == PendingHeader::kNone)
            contentType = pending;
    }

    static std::uint64_t Length(const HeaderText& text) { return text.bPresent ? text.lEnd - text.lStart : 0; }

    // Copies a text to the end of the store (room reserved); an absent text
    // is empty, at the store's end.
    void Append(const HeaderText& text, std::uint32_t* plOffset, std::uint32_t* pcb) {
        *plOffset = m_parts.m_cbText;
        *pcb = text.bPresent ? formscan::CopyText(m_pb, text, m_parts.m_text.as<unsigned char>() + m_parts.m_cbText)
                             : 0;
        m_parts.m_cbText += *pcb;
    }

    bool ReserveText(std::uint64_t cb) {
        const std::uint64_t cbNeeded = m_parts.m_cbText + cb;
        if (m_parts.m_text && cbNeeded <= m_parts.m_cbTextCapacity) return true;
        std::uint64_t cbCapacity = m_parts.m_cbTextCapacity ? 2ull * m_parts.m_cbTextCapacity : kFirstTextCapacity;
        if (cbCapacity < cbNeeded) cbCapacity = cbNeeded;
        if (cbCapacity > 0xFFFFFFFFu) cbCapacity = 0xFFFFFFFFu;
        if (cbNeeded > cbCapacity || !GrowBlock(m_parts.m_text, cbCapacity, 1)) return false;
        m_parts.m_cbTextCapacity = static_cast<std::uint32_t>(cbCapacity);
        return true;
    }

    bool AddPart(const FormPart& part) {
        if (m_parts.m_nParts == m_parts.m_nPartsCapacity) {
            const std::uint64_t nCapacity =
                m_parts.m_nPartsCapacity ? 2ull * m_parts.m_nPartsCapacity : kFirstPartsCapacity;
            if (!GrowBlock(m_parts.m_parts, nCapacity, sizeof(FormPart))) return false;
            m_parts.m_nPartsCapacity = static_cast<std::uint32_t>(nCapacity);
        }
        m_parts.m_parts.as<FormPart>()[m_parts.m_nParts++] = part;
        return true;
    }

    FormParts& m_parts;
    const unsigned char* m_pb;
    std::uint32_t m_cb;
};

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
    m_nParts = 0;
    m_cbText = 0;
    const PartsResult result = PartsBuilder(*this, pbBody, cbBody).Run(nMaxParts, pDelimiters);
    if (result != PartsResult::kOk) Clear();
    return result;
}

DelimiterList::~DelimiterList() = default;

bool DelimiterList::CopyAndFind(unsigned char* pbDest, const unsigned char* pbSource, std::uint32_t cb) {
    m_nPositions = 0;
    m_cbDelimiter = 0;
    std::uint32_t lLf = 0;
    if (ReadFirstLine(pbSource, cb, m_abDelimiter, &m_cbDelimiter, &lLf) != PartsResult::kOk || m_cbDelimiter == 0) {
        m_cbDelimiter = 0;  // nothing to look for: the parse decides what the body is
        if (cb) std::memcpy(pbDest, pbSource, cb);
        return true;
    }
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
            if (m_nPositions == m_nCapacity) {
                const std::uint32_t nNew = m_nCapacity ? m_nCapacity * 2 : 64;
                void* pv = ModuleRealloc(m_positions.get(), sizeof(std::uint32_t) * nNew);
                if (!pv) return false;
                m_positions.release();
                m_positions.reset(pv);
                m_nCapacity = nNew;
            }
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
