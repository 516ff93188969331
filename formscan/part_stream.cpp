// PartStream: FormParts' reading of a multipart/form-data body, in pieces.
//
// The whole-body parser finds a part's end first (the first delimiter that
// ends its line, or closes the body) and reads the header block before it
// only then. The stream makes the same decisions as bytes arrive: every byte
// of a part is either committed (certain to come before the part's
// delimiter) or pending (it may begin the delimiter: a prefix of it at the
// end of a piece, or a whole delimiter whose following bytes are not known
// yet). Committed bytes go to the header block, which is read line by line
// (its errors wait for the part's delimiter, as they do in the whole-body
// parse), then to the sink as the value. Pending bytes are held until the
// next piece tells what they are.
//
// A first line that is also a closing line ("--ab--") is read as the first
// delimiter, and the first part's delimiter decides it as the whole-body
// parse does: that delimiter found, the line was the first delimiter; the
// body ended first, it was the closing line. Until then the only thing
// pending is that decision, not bytes: the first part is read as any part,
// its own failures wait for its delimiter (as a bad header's do), and if the
// body ends first the sink drops what it took and the index is emptied.
#include "formscan/part_stream.h"

#include "formscan/byte_search.h"
#include "formscan/part_reading.h"
#include "platform/module_object.h"

#include <cstdint>
#include <cstring>

using formscan::DelimiterEnd;
using formscan::HeaderBlock;

namespace {

// The longest first line that ReadFirstLine can accept, its boundary
// trimmed: "--", 200 bytes and "--". A text byte past it makes the body
// kNotMultipart whatever follows.
constexpr std::uint32_t kcbMaxFirstLineText = 2 + kcbMaxBoundary + 2;

// Bytes the stream holds, in one module-heap block that grows as needed.
class HeldBytes {
public:
    unsigned char* Data() const { return m_block.as<unsigned char>(); }
    std::uint32_t Size() const { return m_cb; }
    void Empty() { m_cb = 0; }
    void Free() {
        m_block.reset();
        m_cb = m_cbCapacity = 0;
    }
    // False without memory (the bytes held so far unchanged).
    bool Append(const unsigned char* pb, std::uint32_t cb) {
        if (cb == 0) return true;
        if (!ReserveItems(m_block, &m_cbCapacity, static_cast<std::uint64_t>(m_cb) + cb, 1, 256)) return false;
        std::memcpy(Data() + m_cb, pb, cb);
        m_cb += cb;
        return true;
    }

private:
    ModuleBlock m_block;
    std::uint32_t m_cb = 0, m_cbCapacity = 0;
};

}  // namespace

struct PartStream::State {
    State(std::uint32_t nMax, PartSink* pPartSink) : nMaxParts(nMax), pSink(pPartSink) {}

    enum class Stage { kFirstLine, kParts, kComplete, kFailed };
    enum class PartStage {
        kHeaders,  // the header block is being read
        kValue,    // the sink was told of the part; its value follows
        kBroken,   // the header block is bad: its error stands once the part's delimiter is found
    };
    // What the first line was taken for.
    enum class Opening {
        kDelimiter,  // the first delimiter: it reads no other way, or the first part's delimiter came
        kMayClose,   // the closing line of a form with no field if the body ends before the first part's delimiter
        kMustClose,  // the closing line of the boundary the request named; the first part's delimiter refuses the body
    };
    enum class Pending {
        kNone,
        kPrefix,     // held: a prefix of the delimiter, at the end of the bytes so far
        kDelimiter,  // held: the delimiter and the bytes after it read by `end`
    };

    const std::uint32_t nMaxParts;
    PartSink* const pSink;
    Stage stage = Stage::kFirstLine;
    PartsResult result = PartsResult::kOk;
    Opening opening = Opening::kDelimiter;
    unsigned char abNamed[kcbMaxBoundary];  // the boundary the request named
    std::uint32_t cbNamed = 0;
    unsigned char abDelimiter[kcbMaxDelimiter];
    std::uint32_t cbDelimiter = 0;
    FormParts parts;
    PartsBuilder builder{parts};

    // The part being read.
    PartStage partStage = PartStage::kHeaders;
    PartsResult brokenResult = PartsResult::kOk;
    HeaderBlock headers;
    HeldBytes headerBytes;  // the header block so far, unless it was read where it stood; the first line before that
    FormPart part{};
    std::uint64_t cbValue = 0;
    bool bSinkInPart = false;  // the sink heard PartBegins, not yet PartEnds

    Pending pending = Pending::kNone;
    HeldBytes held;
    DelimiterEnd end;

    bool Running() const { return stage == Stage::kParts; }

    void Fail(PartsResult failure) {
        stage = Stage::kFailed;
        result = failure;
        builder.Clear();
    }

    // Gives back the memory of a stream that reads no more.
    void Release() {
        headerBytes.Free();
        held.Free();
        pending = Pending::kNone;
    }

    void StartPart() {
        partStage = PartStage::kHeaders;
        headers = HeaderBlock(0);
        headerBytes.Empty();
        part = FormPart{};
        cbValue = 0;
        bSinkInPart = false;
    }

    // A failure of the part itself: final at once, unless the first line
    // may yet be the closing line; then, like a bad header, it stands only
    // once the part's delimiter is found.
    void PartFails(PartsResult failure) {
        if (opening == Opening::kDelimiter) {
            Fail(failure);
            return;
        }
        partStage = PartStage::kBroken;
        brokenResult = failure;
        headerBytes.Empty();
    }

    // The first part's delimiter was found: the first line was the first
    // delimiter. False when that refuses the body.
    bool FirstLineWasDelimiter() {
        if (opening == Opening::kMustClose) {
            Fail(PartsResult::kBoundaryMismatch);
            return false;
        }
        opening = Opening::kDelimiter;
        return true;
    }

    void BadDelimiterLine() {
        if (FirstLineWasDelimiter()) Fail(PartsResult::kBadLineEndings);
    }

    std::uint32_t FirstLine(const unsigned char* pb, std::uint32_t cb);
    void Open();
    void BodyEnds();
    std::uint32_t Scan(const unsigned char* pb, std::uint32_t cb);
    std::uint32_t Resolve(const unsigned char* pb, std::uint32_t cb);
    std::uint32_t PrefixStart(const unsigned char* pb, std::uint32_t lFrom, std::uint32_t lEnd) const;
    void Commit(const unsigned char* pb, std::uint32_t cb);
    void CommitHeaders(const unsigned char* pb, std::uint32_t cb);
    void CommitValue(const unsigned char* pb, std::uint32_t cb);
    void BeginValue(const unsigned char* pbHeaders);
    void EndPart(bool bClosing);
};

// Holds the first line until its LF: only then is the delimiter known.
std::uint32_t PartStream::State::FirstLine(const unsigned char* pb, std::uint32_t cb) {
    const void* pvLf = std::memchr(pb, '\n', cb);
    const std::uint32_t cbTake =
        pvLf ? static_cast<std::uint32_t>(static_cast<const unsigned char*>(pvLf) - pb) + 1 : cb;
    const std::uint32_t cbLine = headerBytes.Size() + (pvLf ? cbTake - 1 : cbTake);
    const bool bTooLong = cbLine > kcbMaxStreamHeld;
    // A line too long to hold is held up to one byte past the limit.
    if (!headerBytes.Append(pb, bTooLong ? kcbMaxStreamHeld + 1 - headerBytes.Size() : cbTake)) {
        Fail(PartsResult::kNoMemory);
        return cb;
    }
    const unsigned char* pbLine = headerBytes.Data();
    const std::uint32_t cbHeld = headerBytes.Size();
    if (pbLine[0] != '-' || (cbHeld >= 2 && pbLine[1] != '-')) {
        Fail(PartsResult::kNotMultipart);
        return cb;
    }
    if (bTooLong) {
        // A text byte past the longest boundary makes it kNotMultipart, LF
        // or not (the last byte held may yet be the CR before the LF).
        for (std::uint32_t l = kcbMaxFirstLineText; l + 1 < cbHeld; ++l) {
            if (!formscan::IsBlank(pbLine[l])) {
                Fail(cbNamed != 0 ? PartsResult::kBoundaryMismatch : PartsResult::kNotMultipart);
                return cb;
            }
        }
        Fail(PartsResult::kLineTooLong);
        return cb;
    }
    if (!pvLf) return cb;
    Open();
    return cbTake;
}

// The first line is held whole, or is the whole body: what it begins.
void PartStream::State::Open() {
    const unsigned char* pbLine = headerBytes.Data();
    formscan::FirstLine first;
    formscan::ReadFirstLine(pbLine, headerBytes.Size(), &first);
    Opening reading = first.bClosing ? Opening::kMayClose : Opening::kDelimiter;
    if (cbNamed != 0) {
        switch (formscan::CompareFirstLine(pbLine, first, abNamed, cbNamed)) {
        case formscan::NamedLine::kDelimiter:
            first.bClosing = false;  // the request says which it is
            reading = Opening::kDelimiter;
            break;
        case formscan::NamedLine::kClosing:
            reading = Opening::kMustClose;
            break;
        case formscan::NamedLine::kOther:
            Fail(first.lTextEnd != 0 ? PartsResult::kBoundaryMismatch : PartsResult::kNotMultipart);
            return;
        }
    }
    if (first.asDelimiter != PartsResult::kOk) {
        // A line that can only close is the closing line of a form with no field.
        if (first.bClosing) stage = Stage::kComplete;
        else Fail(first.asDelimiter);
        return;
    }
    std::memcpy(abDelimiter, first.abDelimiter, first.cbDelimiter);
    cbDelimiter = first.cbDelimiter;
    opening = reading;
    stage = Stage::kParts;
    StartPart();
    if (opening == Opening::kMustClose) {
        // No part can come of it: only its delimiter is looked for.
        partStage = PartStage::kBroken;
        brokenResult = PartsResult::kBoundaryMismatch;
    }
}

// The body ended inside a part, before the part's delimiter.
void PartStream::State::BodyEnds() {
    if (opening == Opening::kDelimiter) {
        Fail(PartsResult::kNoClosingLine);
        return;
    }
    // No later line was the first line's delimiter: it was the closing line.
    if (bSinkInPart) pSink->PartDropped();
    bSinkInPart = false;
    builder.Clear();
    stage = Stage::kComplete;
}

// The earliest offset in lFrom .. lEnd - 1 from which the bytes to lEnd are
// a proper prefix of the delimiter, or lEnd.
std::uint32_t PartStream::State::PrefixStart(const unsigned char* pb, std::uint32_t lFrom, std::uint32_t lEnd) const {
    if (lEnd - lFrom > cbDelimiter - 1) lFrom = lEnd - (cbDelimiter - 1);
    for (std::uint32_t l = lFrom; l < lEnd; ++l) {
        const void* pv = std::memchr(pb + l, abDelimiter[0], lEnd - l);
        if (!pv) break;
        l = static_cast<std::uint32_t>(static_cast<const unsigned char*>(pv) - pb);
        if (formscan::BytesEqual(pb + l, abDelimiter, lEnd - l)) return l;
    }
    return lEnd;
}

// Reads a piece while nothing is pending: the delimiter is searched where
// the piece stands. Returns the bytes used; fewer than cb only when a part
// ended and the next begins there.
std::uint32_t PartStream::State::Scan(const unsigned char* pb, std::uint32_t cb) {
    std::uint32_t l = 0;
    for (;;) {
        const std::uint32_t lDelimiter = ByteSearchWide(abDelimiter, cbDelimiter, pb, l, cb);
        if (lDelimiter == kByteSearchNone) {
            const std::uint32_t lPrefix = PrefixStart(pb, l, cb);
            Commit(pb + l, lPrefix - l);
            if (Running() && lPrefix < cb) {
                if (!held.Append(pb + lPrefix, cb - lPrefix)) Fail(PartsResult::kNoMemory);
                pending = Pending::kPrefix;
            }
            return cb;
        }
        Commit(pb + l, lDelimiter - l);
        if (!Running()) return cb;
        end = DelimiterEnd();
        std::uint32_t lStop = 0;
        switch (end.Read(pb, lDelimiter + cbDelimiter, cb, &lStop)) {
        case DelimiterEnd::kMore:
            if (end.Padding() > kcbMaxStreamHeld) Fail(PartsResult::kLineTooLong);
            else if (!held.Append(pb + lDelimiter, cb - lDelimiter)) Fail(PartsResult::kNoMemory);
            else pending = Pending::kDelimiter;
            return cb;
        case DelimiterEnd::kContent:
            Commit(pb + lDelimiter, lStop - lDelimiter);
            if (!Running()) return cb;
            l = lStop;
            break;
        case DelimiterEnd::kBadLineEnding:
            BadDelimiterLine();
            return cb;
        case DelimiterEnd::kClosing:
            EndPart(true);
            return cb;  // what follows the closing line is ignored
        case DelimiterEnd::kNextPart:
            EndPart(false);
            return lStop;
        }
    }
}

// Reads the start of a piece while bytes are pending, until they are known
// to be content or the part's delimiter. Returns the bytes of the piece used
// (0 when held bytes turned out to be content and are read again).
std::uint32_t PartStream::State::Resolve(const unsigned char* pb, std::uint32_t cb) {
    if (pending == Pending::kPrefix) {
        const std::uint32_t cbHeld = held.Size();
        const std::uint32_t cbMore = cb < cbDelimiter - cbHeld ? cb : cbDelimiter - cbHeld;
        if (formscan::BytesEqual(pb, abDelimiter + cbHeld, cbMore)) {
            if (!held.Append(pb, cbMore)) {
                Fail(PartsResult::kNoMemory);
                return cb;
            }
            if (cbHeld + cbMore == cbDelimiter) {
                pending = Pending::kDelimiter;
                end = DelimiterEnd();
            }
            return cbMore;
        }
        // Not the delimiter: its first byte is content, and the delimiter
        // may still begin in the rest.
        unsigned char abRest[kcbMaxDelimiter];
        const unsigned char chFirst = held.Data()[0];
        std::memcpy(abRest, held.Data() + 1, cbHeld - 1);
        held.Empty();
        pending = Pending::kNone;
        Commit(&chFirst, 1);
        if (Running() && cbHeld > 1) Scan(abRest, cbHeld - 1);
        return 0;
    }

    std::uint32_t lStop = 0;
    const DelimiterEnd::Outcome outcome = end.Read(pb, 0, cb, &lStop);
    if (outcome == DelimiterEnd::kMore) {
        if (end.Padding() > kcbMaxStreamHeld) Fail(PartsResult::kLineTooLong);
        else if (!held.Append(pb, cb)) Fail(PartsResult::kNoMemory);
        return cb;
    }
    pending = Pending::kNone;
    switch (outcome) {
    case DelimiterEnd::kContent:
        Commit(held.Data(), held.Size());
        held.Empty();
        if (Running()) Commit(pb, lStop);
        return lStop;
    case DelimiterEnd::kBadLineEnding:
        BadDelimiterLine();
        return cb;
    case DelimiterEnd::kClosing:
        held.Empty();
        EndPart(true);
        return cb;
    default:  // kNextPart
        held.Empty();
        EndPart(false);
        return lStop;
    }
}

// Bytes of the part certain to come before its delimiter.
void PartStream::State::Commit(const unsigned char* pb, std::uint32_t cb) {
    if (cb == 0) return;
    switch (partStage) {
    case PartStage::kHeaders:
        CommitHeaders(pb, cb);
        break;
    case PartStage::kValue:
        CommitValue(pb, cb);
        break;
    case PartStage::kBroken:
        break;
    }
}

void PartStream::State::CommitHeaders(const unsigned char* pb, std::uint32_t cb) {
    if (headerBytes.Size() == 0) {
        // The part's first bytes: a header block that is all here is read
        // where it stands.
        const PartsResult read = headers.Read(pb, cb);
        if (read != PartsResult::kOk) {
            partStage = PartStage::kBroken;
            brokenResult = read;
            return;
        }
        if (headers.Complete()) {
            BeginValue(pb);
            if (Running()) CommitValue(pb + headers.ValueStart(), cb - headers.ValueStart());
            return;
        }
        if (cb > kcbMaxStreamHeld) PartFails(PartsResult::kLineTooLong);
        else if (!headerBytes.Append(pb, cb)) Fail(PartsResult::kNoMemory);
        return;
    }
    // Held: add a line at a time, and read each as its LF arrives.
    while (cb > 0) {
        const void* pvLf = std::memchr(pb, '\n', cb);
        const std::uint32_t cbLine =
            pvLf ? static_cast<std::uint32_t>(static_cast<const unsigned char*>(pvLf) - pb) + 1 : cb;
        if (cbLine > kcbMaxStreamHeld - headerBytes.Size()) {
            PartFails(PartsResult::kLineTooLong);
            return;
        }
        if (!headerBytes.Append(pb, cbLine)) {
            Fail(PartsResult::kNoMemory);
            return;
        }
        pb += cbLine;
        cb -= cbLine;
        if (!pvLf) return;
        const PartsResult read = headers.Read(headerBytes.Data(), headerBytes.Size());
        if (read != PartsResult::kOk) {
            partStage = PartStage::kBroken;
            brokenResult = read;
            return;
        }
        if (headers.Complete()) {
            BeginValue(headerBytes.Data());
            if (Running()) CommitValue(pb, cb);
            return;
        }
    }
}

// The header block is complete and before the part's delimiter: the part's
// texts go to the index, and the sink hears of it.
void PartStream::State::BeginValue(const unsigned char* pbHeaders) {
    part = FormPart{};
    if (!builder.AddTexts(pbHeaders, headers, &part)) {
        Fail(PartsResult::kNoMemory);
        return;
    }
    partStage = PartStage::kValue;
    cbValue = 0;
    if (!pSink) return;
    if (!pSink->PartBegins(parts.Count(), part, parts.Text())) Fail(PartsResult::kStopped);
    else bSinkInPart = true;
}

void PartStream::State::CommitValue(const unsigned char* pb, std::uint32_t cb) {
    if (cb == 0) return;
    if (cbValue + cb > 0xFFFFFFFFu) {
        PartFails(PartsResult::kTooLarge);
        return;
    }
    cbValue += cb;
    if (pSink && !pSink->PartData(pb, cb)) Fail(PartsResult::kStopped);
}

// The part's delimiter was found: its header block's verdict stands now.
void PartStream::State::EndPart(bool bClosing) {
    if (!FirstLineWasDelimiter()) return;
    switch (partStage) {
    case PartStage::kHeaders:  // no blank line before the delimiter
        Fail(PartsResult::kBadHeaders);
        return;
    case PartStage::kBroken:
        Fail(brokenResult);
        return;
    case PartStage::kValue:
        part.valueLength = static_cast<std::uint32_t>(cbValue);
        if (!builder.AddPart(part)) {
            Fail(PartsResult::kNoMemory);
            return;
        }
        bSinkInPart = false;
        if (pSink && !pSink->PartEnds()) {
            Fail(PartsResult::kStopped);
            return;
        }
        break;
    }
    if (bClosing) {
        stage = Stage::kComplete;
    } else if (nMaxParts != 0 && parts.Count() == nMaxParts) {
        Fail(PartsResult::kTooManyParts);
    } else {
        StartPart();
    }
}

PartStream::PartStream(std::uint32_t nMaxParts, PartSink* pSink) : m_pState(ModuleNew<State>(nMaxParts, pSink)) {}

PartStream::~PartStream() { ModuleDelete(m_pState); }

bool PartStream::NameBoundary(const unsigned char* pb, std::uint32_t cb) {
    State* const s = m_pState;
    if (!s || s->stage != State::Stage::kFirstLine || s->headerBytes.Size() != 0 || cb == 0 || cb > kcbMaxBoundary)
        return false;
    std::memcpy(s->abNamed, pb, cb);
    s->cbNamed = cb;
    return true;
}

PartsResult PartStream::Write(const unsigned char* pb, std::uint32_t cb) {
    State* const s = m_pState;
    if (!s) return PartsResult::kNoMemory;
    if (s->stage == State::Stage::kFirstLine && cb > 0) {
        const std::uint32_t cbUsed = s->FirstLine(pb, cb);
        pb += cbUsed;
        cb -= cbUsed;
    }
    while (cb > 0 && s->Running()) {
        const std::uint32_t cbUsed = s->pending != State::Pending::kNone ? s->Resolve(pb, cb) : s->Scan(pb, cb);
        pb += cbUsed;
        cb -= cbUsed;
    }
    if (s->stage == State::Stage::kFailed || s->stage == State::Stage::kComplete) s->Release();
    return s->stage == State::Stage::kFailed ? s->result : PartsResult::kOk;
}

PartsResult PartStream::End() {
    State* const s = m_pState;
    if (!s) return PartsResult::kNoMemory;
    if (s->stage == State::Stage::kFirstLine) s->Open();  // the body was its first line
    if (s->Running()) s->BodyEnds();
    s->Release();
    return s->stage == State::Stage::kFailed ? s->result : PartsResult::kOk;
}

bool PartStream::Complete() const { return m_pState && m_pState->stage == State::Stage::kComplete; }

FormParts PartStream::TakeParts() {
    if (!m_pState || m_pState->stage != State::Stage::kComplete) return FormParts();
    return static_cast<FormParts&&>(m_pState->parts);
}
