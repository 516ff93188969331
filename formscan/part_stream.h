// PartStream: reads a multipart/form-data body as it arrives, in pieces of
// any size, with FormParts' rules, handing each part's value to a sink as it
// goes, so that a body never has to be held whole.
#pragma once
#include <cstdint>

#include "formscan/form_parts.h"

// Receives the parts a PartStream reads, in order. Returning false stops the
// stream (its result becomes kStopped); the sink knows why. After a result
// other than kOk the sink hears nothing more, so a part begun may never end.
//
// A first line such as "--ab--" is the first delimiter of boundary "ab--"
// only if a later line of the body is that delimiter again; otherwise it is
// the closing line of a form with no field. The stream cannot hold the first
// part until it knows, so the sink hears of it as of any part; if the body
// then ends before the part's delimiter, the sink is told to drop it.
class PartSink {
public:
    // Part iPart's headers were read, and end before its delimiter: its
    // header texts stand in pbText at the part's offsets, as in FormParts
    // (valueOffset and valueLength are 0 here). pbText is good only during
    // the call. Its value follows through PartData, then PartEnds.
    virtual bool PartBegins(std::uint32_t iPart, const FormPart& part, const unsigned char* pbText) = 0;
    // The next cb (> 0) bytes of the current part's value, good only during
    // the call. A value comes in as many calls as it takes, cut anywhere.
    virtual bool PartData(const unsigned char* pb, std::uint32_t cb) = 0;
    // The current part's value is complete (its delimiter was read).
    virtual bool PartEnds() = 0;
    // The first part, begun and not ended, was none: the body ended, and
    // its first line was the closing line of a form with no field. Only from
    // End(), which then gives kOk and an empty index.
    virtual void PartDropped() = 0;

protected:
    ~PartSink() = default;
};

// Longest first line (before its LF), header block (through its blank
// line) or transport padding (the blanks after a delimiter) the stream holds
// while it waits for the rest; longer ones are refused with kLineTooLong.
// The first line is always held; a header block unless it arrives within
// one Write with no lookalike of the delimiter in it (it is then read where
// it stands); padding only when a Write ends inside it. The stream never holds more than a
// header block, padding and a delimiter at once, besides the index.
constexpr std::uint32_t kcbMaxStreamHeld = 64u << 10;

class PartStream {
public:
    // nMaxParts 0 = no limit. pSink null: the index alone. Without memory
    // for the stream itself, Write and End give kNoMemory.
    PartStream(std::uint32_t nMaxParts, PartSink* pSink);
    ~PartStream();
    PartStream(const PartStream&) = delete;
    PartStream& operator=(const PartStream&) = delete;

    // The boundary the request itself names (its Content-Type), before the
    // first Write: the first line must then be its delimiter line, or its
    // closing line (and so a form with no field, unless a later line makes
    // the first line another boundary's delimiter); any other first line
    // beginning with "--" gives kBoundaryMismatch. False, and nothing
    // changes, for a boundary of 0 or more than kcbMaxBoundary bytes, or
    // after the first Write.
    bool NameBoundary(const unsigned char* pb, std::uint32_t cb);

    // The body's next cb bytes, in a piece of any size, cut anywhere. kOk:
    // more may follow. Any other result is final (it comes as soon as it is
    // certain: kTooManyParts when the part past the limit begins), and every
    // later call gives it again. Bytes after the closing line are ignored,
    // as the whole-body parse ignores them.
    PartsResult Write(const unsigned char* pb, std::uint32_t cb);
    // The body ended: the final result, the same as FormParts::Parse of the
    // whole body gives (kOk once the closing line was read), except for
    // kStopped, kLineTooLong and kTooLarge, which only a stream gives, and
    // kBoundaryMismatch, which only a stream told the boundary gives.
    PartsResult End();
    // Whether the closing line has been read (later bytes are ignored).
    bool Complete() const;

    // After End() gave kOk: the index of the parts, with valueOffset 0 and
    // valueLength the size of each value (the texts, flags and text store
    // as FormParts::Parse makes them). Otherwise, or a second time, empty.
    FormParts TakeParts();

private:
    struct State;
    State* m_pState;
};
