// PartStream: reads a multipart/form-data body as it arrives, in pieces of
// any size, with FormParts' rules, handing each part's value to a sink as it
// goes, so that a body never has to be held whole.
#pragma once
#include <cstdint>

#include "formscan/form_parts.h"

// Receives the parts a PartStream reads, in order. Returning false stops the
// stream (its result becomes kStopped); the sink knows why.
class PartSink {
public:
    // Part iPart's headers were read: its header texts stand in pbText at
    // the part's offsets, as in FormParts. Its value follows through
    // PartData, then PartEnds.
    virtual bool PartBegins(std::uint32_t iPart, const FormPart& part, const unsigned char* pbText) = 0;
    // The next cb (> 0) bytes of the current part's value.
    virtual bool PartData(const unsigned char* pb, std::uint32_t cb) = 0;
    // The current part's value is complete.
    virtual bool PartEnds() = 0;

protected:
    ~PartSink() = default;
};

// Longest first line, header block or transport padding the stream holds
// while it waits for the rest; longer ones are refused with kLineTooLong.
constexpr std::uint32_t kcbMaxStreamHeld = 64u << 10;

class PartStream {
public:
    // nMaxParts 0 = no limit.
    PartStream(std::uint32_t nMaxParts, PartSink* pSink);
    ~PartStream();
    PartStream(const PartStream&) = delete;
    PartStream& operator=(const PartStream&) = delete;

    // The body's next cb bytes. kOk: more may follow. Any other result is
    // final, and every later call gives it again. Bytes after the closing
    // line are ignored, as the whole-body parse ignores them.
    PartsResult Write(const unsigned char* pb, std::uint32_t cb);
    // The body ended: the final result, the same as FormParts::Parse of the
    // whole body gives (kOk once the closing line was read), except for
    // kStopped, kLineTooLong and kTooLarge, which only a stream gives.
    PartsResult End();
    // Whether the closing line has been read (later bytes are ignored).
    bool Complete() const;

    // After End() gave kOk: the index of the parts, with valueOffset 0 and
    // valueLength the size of each value.
    FormParts TakeParts();

private:
    struct State;
    State* m_pState;
};
