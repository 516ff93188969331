// The reading steps both FormParts::Parse and PartStream take: the first
// line, a part's header block and the index they build.
#include "formscan/part_reading.h"

#include "formscan/byte_search.h"

#include <cstdint>
#include <cstring>

using formscan::DispositionParams;
using formscan::HeaderBlock;
using formscan::HeaderText;
using formscan::IsBlank;
using formscan::PendingHeader;

namespace {

std::uint32_t FindByte(const unsigned char* pb, std::uint32_t lStart, std::uint32_t lEnd, unsigned char ch) {
    if (lStart >= lEnd) return kByteSearchNone;
    const void* pv = std::memchr(pb + lStart, ch, lEnd - lStart);
    return pv ? static_cast<std::uint32_t>(static_cast<const unsigned char*>(pv) - pb) : kByteSearchNone;
}

// The first Content-Disposition and the first Content-Type count.
void Keep(const PendingHeader& pending, PendingHeader& disposition, PendingHeader& contentType) {
    if (pending.kind == PendingHeader::kDisposition && disposition.kind == PendingHeader::kNone)
        disposition = pending;
    else if (pending.kind == PendingHeader::kContentType && contentType.kind == PendingHeader::kNone)
        contentType = pending;
}

std::uint64_t Length(const HeaderText& text) { return text.bPresent ? text.lEnd - text.lStart : 0; }

}  // namespace

namespace formscan {

void ReadFirstLine(const unsigned char* pb, std::uint32_t cb, FirstLine* pLine) {
    FirstLine& line = *pLine;
    line.asDelimiter = PartsResult::kNotMultipart;
    line.bClosing = false;
    line.lTextEnd = line.cbDelimiter = line.lLf = 0;
    if (!pb || cb < 2 || pb[0] != '-' || pb[1] != '-') return;
    const std::uint32_t lLf = FindByte(pb, 0, cb, '\n');
    const std::uint32_t lLineEnd = lLf == kByteSearchNone ? cb : lLf;
    const bool bCrLf = lLf != kByteSearchNone && pb[lLf - 1] == '\r';
    std::uint32_t lTextEnd = bCrLf ? lLineEnd - 1 : lLineEnd;
    while (lTextEnd > 2 && IsBlank(pb[lTextEnd - 1])) --lTextEnd;
    const std::uint32_t cbBoundary = lTextEnd - 2;
    line.lTextEnd = lTextEnd;
    line.bClosing = cbBoundary >= 3 && cbBoundary - 2 <= kcbMaxBoundary && pb[lTextEnd - 1] == '-' &&
                    pb[lTextEnd - 2] == '-';
    if (lLf == kByteSearchNone || cbBoundary == 0 || cbBoundary > kcbMaxBoundary) return;
    if (!bCrLf) {
        line.asDelimiter = PartsResult::kBadLineEndings;
        return;
    }
    line.abDelimiter[0] = '\r';
    line.abDelimiter[1] = '\n';
    std::memcpy(line.abDelimiter + 2, pb, cbBoundary + 2);
    line.cbDelimiter = cbBoundary + 4;
    line.lLf = lLf;
    line.asDelimiter = PartsResult::kOk;
}

NamedLine CompareFirstLine(const unsigned char* pb, const FirstLine& line, const unsigned char* pbBoundary,
                           std::uint32_t cbBoundary) {
    if (line.lTextEnd < 2 + cbBoundary || !BytesEqual(pb + 2, pbBoundary, cbBoundary)) return NamedLine::kOther;
    const std::uint32_t cbAfter = line.lTextEnd - 2 - cbBoundary;
    if (cbAfter == 0) return NamedLine::kDelimiter;
    return cbAfter == 2 && pb[line.lTextEnd - 1] == '-' && pb[line.lTextEnd - 2] == '-' ? NamedLine::kClosing
                                                                                          : NamedLine::kOther;
}

PartsResult HeaderBlock::Read(const unsigned char* pb, std::uint32_t lEnd) {
    // Locals, not members, in the loop: the body's bytes may alias them.
    PendingHeader pending = m_pending, disposition = m_disposition, contentType = m_contentType;
    std::uint32_t lLine = m_lLine;
    PartsResult result = PartsResult::kOk;
    while (!m_bComplete) {
        const std::uint32_t lLf = FindByte(pb, lLine, lEnd, '\n');
        if (lLf == kByteSearchNone) break;
        if (lLf == lLine || pb[lLf - 1] != '\r') {
            result = PartsResult::kBadLineEndings;
            break;
        }
        const std::uint32_t lLineEnd = lLf - 1;
        if (lLineEnd == lLine) {
            Keep(pending, disposition, contentType);
            m_bComplete = true;
        } else if (IsBlank(pb[lLine])) {
            // A folded line continues the header before it.
            if (pending.kind == PendingHeader::kNone) {
                result = PartsResult::kBadHeaders;
                break;
            }
            pending.lValueEnd = lLineEnd;
        } else {
            Keep(pending, disposition, contentType);
            const std::uint32_t lColon = FindByte(pb, lLine, lLineEnd, ':');
            if (lColon == kByteSearchNone) {
                result = PartsResult::kBadHeaders;
                break;
            }
            std::uint32_t lNameEnd = lColon;
            while (lNameEnd > lLine && IsBlank(pb[lNameEnd - 1])) --lNameEnd;
            pending.kind = EqualsIgnoringCase(pb, lLine, lNameEnd, "content-disposition") ? PendingHeader::kDisposition
                           : EqualsIgnoringCase(pb, lLine, lNameEnd, "content-type")      ? PendingHeader::kContentType
                                                                                          : PendingHeader::kOther;
            pending.lValueStart = lColon + 1;
            pending.lValueEnd = lLineEnd;
        }
        lLine = lLf + 1;
    }
    m_pending = pending;
    m_disposition = disposition;
    m_contentType = contentType;
    m_lLine = lLine;
    return result;
}

}  // namespace formscan

bool PartsBuilder::AddTexts(const unsigned char* pb, const HeaderBlock& headers, FormPart* pPart) {
    DispositionParams params;
    if (headers.Disposition().kind != PendingHeader::kNone)
        formscan::ReadDisposition(pb, headers.Disposition().lValueStart, headers.Disposition().lValueEnd, &params);
    HeaderText type;
    if (headers.ContentType().kind != PendingHeader::kNone)
        type = formscan::TrimmedValue(pb, headers.ContentType().lValueStart, headers.ContentType().lValueEnd);
    const std::uint64_t cbTexts =
        Length(params.name) + Length(params.fileName) + Length(params.fileNameExt) + Length(type);
    if (!ReserveText(cbTexts)) return false;

    Append(pb, params.name, &pPart->nameOffset, &pPart->nameLength);
    if (params.fileNameExt.bPresent) {
        // filename* when it decodes; else filename=, else its own bytes.
        Append(pb, params.fileNameExt, &pPart->fileNameOffset, &pPart->fileNameLength);
        unsigned char* pbName = m_parts.m_text.as<unsigned char>() + pPart->fileNameOffset;
        std::uint32_t cbName = pPart->fileNameLength;
        m_parts.m_cbText = pPart->fileNameOffset;
        if (formscan::DecodeUtf8ExtValue(pbName, &cbName)) {
            m_parts.m_cbText += cbName;
            pPart->fileNameLength = cbName;
            pPart->flags |= kPartFileNameUtf8;
        } else {
            Append(pb, params.fileName.bPresent ? params.fileName : params.fileNameExt, &pPart->fileNameOffset,
                   &pPart->fileNameLength);
        }
    } else {
        Append(pb, params.fileName, &pPart->fileNameOffset, &pPart->fileNameLength);
    }
    if (params.fileName.bPresent || params.fileNameExt.bPresent) pPart->flags |= kPartHasFileName;
    Append(pb, type, &pPart->contentTypeOffset, &pPart->contentTypeLength);
    return true;
}

// Copies a text to the end of the store (room reserved); an absent text is
// empty, at the store's end.
void PartsBuilder::Append(const unsigned char* pb, const HeaderText& text, std::uint32_t* plOffset,
                          std::uint32_t* pcb) {
    *plOffset = m_parts.m_cbText;
    *pcb = text.bPresent ? formscan::CopyText(pb, text, m_parts.m_text.as<unsigned char>() + m_parts.m_cbText) : 0;
    m_parts.m_cbText += *pcb;
}

bool PartsBuilder::AddPart(const FormPart& part) {
    if (!ReserveItems(m_parts.m_parts, &m_parts.m_nPartsCapacity, m_parts.m_nParts + 1ull, sizeof(FormPart),
                      kFirstPartsCapacity))
        return false;
    m_parts.m_parts.as<FormPart>()[m_parts.m_nParts++] = part;
    return true;
}

