// libFuzzer target for PartStream (host, clang, ASan+UBSan). Input:
//   byte 0: bits 0-3 the part limit (0: none); bits 4-7 v: v != 0 makes
//           every allocation after the first v-1 fail, in one of the runs.
//   the rest: the body.
// The body is fed to streams in pieces cut at points derived from the input
// (pseudo-random cuts, a byte at a time, fixed sizes, whole), each piece in
// its own exact-size block, and every run must give what FormParts::Parse
// gives for the whole body: the same result, the same index (the text store
// byte for byte, every part's texts and flags, valueOffset 0 and the value's
// length) and, part by part, the bytes the sink received equal to the
// value in the body. Only kLineTooLong (a body longer than the stream
// holds) and, in the failing run, kNoMemory may differ. A first part that
// the stream drops (the first line was a closing line after all) must be
// the only part begun and leave kOk with an empty index. A sink that refuses
// one call must stop the stream there with kStopped. No module-heap block
// may be left. Any difference aborts.
#include "formscan/part_stream.h"
#include "fuzz/parts/parts_input.h"
#include "testing/host_services.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

void Check(bool bCondition, const char* pszWhat) {
    if (!bCondition) {
        std::fprintf(stderr, "part stream differs from the whole-body parse: %s\n", pszWhat);
        std::abort();
    }
}

// Collects what the stream tells it, checking the order of the calls.
class Sink : public PartSink {
public:
    explicit Sink(long nRefuse) : m_nRefuse(nRefuse) {}

    bool PartBegins(std::uint32_t iPart, const FormPart& part, const unsigned char* pbText) override {
        Check(!m_bInPart && iPart == values.size(), "PartBegins in order");
        const std::uint32_t cbTexts[] = {part.nameLength, part.fileNameLength, part.contentTypeLength};
        const std::uint32_t lTexts[] = {part.nameOffset, part.fileNameOffset, part.contentTypeOffset};
        std::string texts;
        for (int k = 0; k < 3; ++k) texts.append(reinterpret_cast<const char*>(pbText) + lTexts[k], cbTexts[k]);
        begun.push_back(texts);
        values.emplace_back();
        m_bInPart = true;
        return Answer();
    }
    bool PartData(const unsigned char* pb, std::uint32_t cb) override {
        Check(m_bInPart && cb > 0, "PartData inside a part, never empty");
        values.back().append(reinterpret_cast<const char*>(pb), cb);
        return Answer();
    }
    bool PartEnds() override {
        Check(m_bInPart, "PartEnds inside a part");
        m_bInPart = false;
        return Answer();
    }
    void PartDropped() override {
        Check(m_bInPart && values.size() == 1 && !bDropped, "PartDropped only inside the first part, once");
        begun.pop_back();
        values.pop_back();
        m_bInPart = false;
        bDropped = true;
    }

    std::vector<std::string> begun;   // each part's name, file name and type, as told
    std::vector<std::string> values;  // each part's value, as received
    long nCalls = 0;                  // calls that could refuse (not PartDropped)
    bool bDropped = false;

private:
    bool Answer() {
        Check(m_nRefuse < 0 || nCalls <= m_nRefuse, "no call after a refusal");
        return nCalls++ != m_nRefuse;
    }
    long m_nRefuse;
    bool m_bInPart = false;
};

struct Reference {
    PartsResult result;
    FormParts parts;
};

// xorshift64*, seeded from the input: where the pieces are cut.
std::uint64_t Next(std::uint64_t& state) {
    state ^= state >> 12;
    state ^= state << 25;
    state ^= state >> 27;
    return state * 2685821657736338717ull;
}

std::vector<std::uint32_t> PieceSizes(std::uint32_t cb, int mode, std::uint64_t& state) {
    std::vector<std::uint32_t> sizes;
    for (std::uint32_t lDone = 0; lDone < cb;) {
        std::uint32_t cbPiece = cb - lDone;
        switch (mode) {
        case 0:  // mostly short pieces, now and then a long one
            cbPiece = static_cast<std::uint32_t>(Next(state) % 8 == 0 ? 1 + Next(state) % 512 : 1 + Next(state) % 12);
            break;
        case 1:  // a byte at a time
            cbPiece = 1;
            break;
        case 2:  // one fixed size
            cbPiece = static_cast<std::uint32_t>(1 + (state >> 40) % 97);
            break;
        default:  // whole
            break;
        }
        if (cbPiece > cb - lDone) cbPiece = cb - lDone;
        sizes.push_back(cbPiece);
        lDone += cbPiece;
    }
    return sizes;
}

// Feeds the body in the given pieces; returns the result, with the index in
// *pParts.
PartsResult Stream(const unsigned char* pb, std::uint32_t cb, std::uint32_t nMax,
                   const std::vector<std::uint32_t>& sizes, Sink& sink, FormParts* pParts,
                   const std::string& named = std::string()) {
    PartStream stream(nMax, &sink);
    if (!named.empty())
        Check(stream.NameBoundary(reinterpret_cast<const unsigned char*>(named.data()),
                                  static_cast<std::uint32_t>(named.size())),
              "a boundary of 1 to 200 bytes can be named");
    PartsResult result = PartsResult::kOk;
    std::uint32_t lDone = 0;
    for (std::uint32_t cbPiece : sizes) {
        std::unique_ptr<unsigned char[]> piece(new unsigned char[cbPiece]);
        std::memcpy(piece.get(), pb + lDone, cbPiece);
        lDone += cbPiece;
        result = stream.Write(piece.get(), cbPiece);
        if (result != PartsResult::kOk) break;
    }
    if (result == PartsResult::kOk) result = stream.End();
    Check(stream.End() == result, "End gives the final result again");
    Check(stream.Write(pb, cb) == result, "Write after the end gives the final result");
    Check(stream.Complete() == (result == PartsResult::kOk), "Complete exactly on kOk");
    *pParts = stream.TakeParts();
    Check(result == PartsResult::kOk || (pParts->Count() == 0 && pParts->TextSize() == 0),
          "no index after a failure");
    Check(!sink.bDropped || (result == PartsResult::kOk && pParts->Count() == 0 && pParts->TextSize() == 0),
          "a dropped part only for a form with no field");
    return result;
}

// The stream's index and values against the whole-body parse's.
void CheckSame(const Reference& whole, const unsigned char* pb, std::uint32_t cb, PartsResult result,
               const FormParts& parts, const Sink& sink) {
    if (result == PartsResult::kLineTooLong && cb > kcbMaxStreamHeld) return;
    Check(result == whole.result, "the same result");
    if (result != PartsResult::kOk) return;
    const FormParts& w = whole.parts;
    Check(parts.Count() == w.Count() && parts.TextSize() == w.TextSize(), "the same counts");
    Check(w.TextSize() == 0 || std::memcmp(parts.Text(), w.Text(), w.TextSize()) == 0, "the same text store");
    Check(sink.values.size() == w.Count(), "the sink heard of every part");
    for (std::uint32_t i = 0; i < w.Count(); ++i) {
        const FormPart& s = parts.Part(i);
        const FormPart& r = w.Part(i);
        Check(s.nameOffset == r.nameOffset && s.nameLength == r.nameLength && s.fileNameOffset == r.fileNameOffset &&
                  s.fileNameLength == r.fileNameLength && s.contentTypeOffset == r.contentTypeOffset &&
                  s.contentTypeLength == r.contentTypeLength && s.flags == r.flags,
              "the same texts and flags");
        Check(s.valueOffset == 0 && s.valueLength == r.valueLength, "valueOffset 0 and the value's length");
        Check(sink.values[i].size() == r.valueLength &&
                  std::memcmp(sink.values[i].data(), pb + r.valueOffset, r.valueLength) == 0,
              "the sink received the value");
        std::string texts;
        texts.append(reinterpret_cast<const char*>(w.Text()) + r.nameOffset, r.nameLength);
        texts.append(reinterpret_cast<const char*>(w.Text()) + r.fileNameOffset, r.fileNameLength);
        texts.append(reinterpret_cast<const char*>(w.Text()) + r.contentTypeOffset, r.contentTypeLength);
        Check(sink.begun[i] == texts, "the sink was told the part's texts");
    }
}

// The first line's text after "--", as the parse reads it: up to the LF
// (or the body's end), without the CR before the LF and trailing blanks.
std::string FirstLineBoundary(const unsigned char* pb, std::uint32_t cb) {
    if (cb < 2 || pb[0] != '-' || pb[1] != '-') return std::string();
    std::uint32_t lEnd = 0;
    while (lEnd < cb && pb[lEnd] != '\n') ++lEnd;
    if (lEnd < cb && pb[lEnd - 1] == '\r') --lEnd;
    while (lEnd > 2 && (pb[lEnd - 1] == ' ' || pb[lEnd - 1] == '\t')) --lEnd;
    return std::string(reinterpret_cast<const char*>(pb) + 2, lEnd - 2);
}

// A stream told the boundary its request names. Told the boundary the
// first line spells, it reads as the parse does whenever that gives parts;
// told the boundary of the first line read as a closing line, it gives a
// form with no field exactly when the parse does, and refuses a body the
// parse found parts in. Any kOk is the parse's answer.
void CheckNamed(const Reference& whole, const unsigned char* pb, std::uint32_t cb, std::uint32_t nMax,
                std::uint64_t& state) {
    const std::string boundary = FirstLineBoundary(pb, cb);
    const bool bParts = whole.result == PartsResult::kOk && whole.parts.Count() > 0;
    const bool bLongBody = cb > kcbMaxStreamHeld;
    if (!boundary.empty() && boundary.size() <= kcbMaxBoundary) {
        Sink sink(-1);
        FormParts parts;
        const PartsResult result = Stream(pb, cb, nMax, PieceSizes(cb, 0, state), sink, &parts, boundary);
        if (result == PartsResult::kOk || bParts) CheckSame(whole, pb, cb, result, parts, sink);
    }
    const std::size_t cbClosing = boundary.size() >= 3 ? boundary.size() - 2 : 0;
    if (cbClosing != 0 && cbClosing <= kcbMaxBoundary && boundary.compare(cbClosing, 2, "--") == 0) {
        Sink sink(-1);
        FormParts parts;
        const PartsResult result =
            Stream(pb, cb, nMax, PieceSizes(cb, 0, state), sink, &parts, boundary.substr(0, cbClosing));
        if (bParts)
            Check(result == PartsResult::kBoundaryMismatch || (bLongBody && result == PartsResult::kLineTooLong),
                  "the request's boundary refuses a body with another's parts");
        else if (whole.result == PartsResult::kOk)
            Check(result == PartsResult::kOk || (bLongBody && result == PartsResult::kLineTooLong),
                  "the request's closing line: a form with no field");
        if (result == PartsResult::kOk) CheckSame(whole, pb, cb, result, parts, sink);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1 || size > (1u << 20)) return 0;
    const PartsInput input(data, size);
    const std::uint32_t nMax = input.nMax, cb = input.cb;
    const long lFailAfter = input.lFailAfter;
    const unsigned char* pb = input.Body();

    // FNV-1a of the input seeds the cuts.
    std::uint64_t state = 14695981039346656037ull;
    for (std::size_t i = 0; i < size; ++i) state = (state ^ data[i]) * 1099511628211ull;
    if (state == 0) state = 1;

    const long lLive = HostHeapLiveBlocks();
    {
        Reference whole{PartsResult::kOk, FormParts()};
        whole.result = whole.parts.Parse(pb, cb, nMax);
        long nCalls = 0;
        for (int mode = 0; mode < 4; ++mode) {
            if (mode == 1 && cb > 4096) continue;
            const std::vector<std::uint32_t> sizes = PieceSizes(cb, mode, state);
            Sink sink(-1);
            FormParts parts;
            const PartsResult result = Stream(pb, cb, nMax, sizes, sink, &parts);
            CheckSame(whole, pb, cb, result, parts, sink);
            nCalls = sink.nCalls;
        }
        // A sink that refuses one of the calls it got.
        if (nCalls > 0) {
            const long nRefuse = static_cast<long>(Next(state) % static_cast<std::uint64_t>(nCalls));
            Sink sink(nRefuse);
            FormParts parts;
            const PartsResult result = Stream(pb, cb, nMax, PieceSizes(cb, 0, state), sink, &parts);
            Check(result == PartsResult::kStopped && sink.nCalls == nRefuse + 1, "a refusal stops the stream there");
        }
        // A failing heap: kNoMemory, or what the others gave.
        if (lFailAfter >= 0) {
            Sink sink(-1);
            FormParts parts;
            HostHeapFailAfter(lFailAfter);
            const PartsResult result = Stream(pb, cb, nMax, PieceSizes(cb, 0, state), sink, &parts);
            HostHeapFailAfter(-1);
            if (result != PartsResult::kNoMemory) CheckSame(whole, pb, cb, result, parts, sink);
        }
        CheckNamed(whole, pb, cb, nMax, state);
    }
    Check(HostHeapLiveBlocks() == lLive, "no block left");
    return 0;
}
