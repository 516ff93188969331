// libFuzzer target for FormParts::Parse (host, clang, ASan+UBSan). Input:
//   byte 0: bits 0-3 the part limit (0: none); bits 4-7 v: v != 0 makes
//           every allocation after the first v-1 fail.
//   the rest: the body (in its own exact-size block, so a read at or beyond
//           its end is caught).
// Checks what VARO.Upload relies on: every range inside the body or the text
// store, Count within the limit, an empty index on failure, no block left,
// the same index from a second parse, and kOk exactly when the listing is
// the one a position-by-position reading of the delimiters gives.
#include "formscan/form_parts.h"
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
        std::fprintf(stderr, "form parts invariant broken: %s\n", pszWhat);
        std::abort();
    }
}

bool IsBlank(unsigned char ch) { return ch == ' ' || ch == '\t'; }

// Value ranges by a slow reading of the delimiter lines (no header parsing):
// false when the body has no sound delimiter structure.
bool SlowValueEnds(const unsigned char* pb, std::uint32_t cb, std::vector<std::uint32_t>* pEnds) {
    std::uint32_t lLf = 0;
    while (lLf < cb && pb[lLf] != '\n') ++lLf;
    if (cb < 3 || pb[0] != '-' || pb[1] != '-' || lLf == cb || pb[lLf - 1] != '\r') return false;
    std::uint32_t lText = lLf - 1;
    while (lText > 2 && IsBlank(pb[lText - 1])) --lText;
    const std::string delimiter = "\r\n" + std::string(reinterpret_cast<const char*>(pb), lText);
    // A first line ending in "--" is read as a delimiter too: only a later
    // delimiter line makes the structure sound.
    if (lText - 2 == 0 || lText - 2 > 200) return false;
    for (std::uint32_t l = lLf + 1; l + delimiter.size() <= cb; ++l) {
        if (std::memcmp(pb + l, delimiter.data(), delimiter.size()) != 0) continue;
        std::uint32_t e = l + static_cast<std::uint32_t>(delimiter.size());
        if (cb - e >= 2 && pb[e] == '-' && pb[e + 1] == '-') {
            pEnds->push_back(l);
            return true;
        }
        while (e < cb && IsBlank(pb[e])) ++e;
        if (cb - e >= 2 && pb[e] == '\r' && pb[e + 1] == '\n') {
            pEnds->push_back(l);
            l = e + 1;
        }
    }
    return false;
}

struct Listed {
    PartsResult result;
    std::vector<FormPart> parts;
    std::string text;
};

Listed ParseOnce(const unsigned char* pb, std::uint32_t cb, std::uint32_t nMax, long lFailAfter) {
    FormParts parts;
    HostHeapFailAfter(lFailAfter);
    Listed listed{parts.Parse(pb, cb, nMax), {}, {}};
    HostHeapFailAfter(-1);
    for (std::uint32_t i = 0; i < parts.Count(); ++i) listed.parts.push_back(parts.Part(i));
    if (parts.TextSize()) listed.text.assign(reinterpret_cast<const char*>(parts.Text()), parts.TextSize());

    if (listed.result != PartsResult::kOk) {
        Check(parts.Count() == 0 && parts.TextSize() == 0, "failure leaves the index empty");
        return listed;
    }
    Check(nMax == 0 || parts.Count() <= nMax, "Count within the limit");
    std::uint32_t lPrevEnd = 0;
    for (const FormPart& p : listed.parts) {
        for (std::uint32_t k = 0; k < 3; ++k) {
            const std::uint32_t lOffset = (&p.nameOffset)[2 * k], cbText = (&p.nameLength)[2 * k];
            Check(lOffset <= parts.TextSize() && cbText <= parts.TextSize() - lOffset, "text inside the store");
        }
        Check(p.valueOffset <= cb && p.valueLength <= cb - p.valueOffset, "value inside the body");
        Check(p.valueOffset >= lPrevEnd, "values in body order");
        lPrevEnd = p.valueOffset + p.valueLength;
        Check((p.flags & ~3u) == 0, "known flags only");
        Check(!(p.flags & kPartFileNameUtf8) || (p.flags & kPartHasFileName), "UTF-8 file name implies a file name");
        Check((p.flags & kPartHasFileName) || p.fileNameLength == 0, "no file name without the flag");
    }
    return listed;
}

bool SameIndex(const Listed& a, const Listed& b) {
    return a.result == b.result && a.text == b.text && a.parts.size() == b.parts.size() &&
           (a.parts.empty() || std::memcmp(a.parts.data(), b.parts.data(), a.parts.size() * sizeof(FormPart)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const PartsInput input(data, size);
    const std::uint32_t nMax = input.nMax, cb = input.cb;
    const long lFailAfter = input.lFailAfter;
    const unsigned char* pb = input.Body();

    const long lLive = HostHeapLiveBlocks();
    const Listed failing = ParseOnce(pb, cb, nMax, lFailAfter);
    Check(HostHeapLiveBlocks() == lLive, "no block left");
    const Listed first = ParseOnce(pb, cb, nMax, -1);
    const Listed second = ParseOnce(pb, cb, nMax, -1);
    Check(SameIndex(first, second), "a second parse gives the same index");
    Check(first.result != PartsResult::kNoMemory, "no kNoMemory without a failing heap");
    if (failing.result != PartsResult::kNoMemory) Check(SameIndex(failing, first), "only kNoMemory differs");
    Check(lFailAfter >= 0 || failing.result != PartsResult::kNoMemory, "kNoMemory only when the heap fails");

    // The delimiters found while copying give the same index.
    {
        std::unique_ptr<unsigned char[]> copy(new unsigned char[cb ? cb : 1]);
        DelimiterList delimiters;
        Check(delimiters.CopyAndFind(copy.get(), pb, cb), "the copy needs only a little memory");
        Check(cb == 0 || std::memcmp(copy.get(), pb, cb) == 0, "the copy is exact");
        FormParts parts;
        Listed listed{parts.Parse(cb ? copy.get() : nullptr, cb, nMax, &delimiters), {}, {}};
        for (std::uint32_t i = 0; i < parts.Count(); ++i) listed.parts.push_back(parts.Part(i));
        if (parts.TextSize()) listed.text.assign(reinterpret_cast<const char*>(parts.Text()), parts.TextSize());
        Check(SameIndex(listed, first), "the delimiters found while copying give the same index");
    }

    // kOk exactly when the delimiters read one by one give these values.
    std::vector<std::uint32_t> ends;
    const bool bSound = SlowValueEnds(pb, cb, &ends);
    if (first.result == PartsResult::kOk && !first.parts.empty()) {
        Check(bSound && ends.size() == first.parts.size(), "kOk lists the parts the delimiters give");
        for (std::size_t i = 0; i < ends.size(); ++i)
            Check(first.parts[i].valueOffset + first.parts[i].valueLength == ends[i], "value ends at its delimiter");
    }
    // A form with no field only when no later line is the first line's
    // delimiter: a sound body never loses its parts.
    if (first.result == PartsResult::kOk && first.parts.empty()) Check(!bSound, "no form lost to its first line");
    if (bSound && first.result != PartsResult::kOk)
        Check(first.result == PartsResult::kBadHeaders || first.result == PartsResult::kBadLineEndings ||
                  (first.result == PartsResult::kTooManyParts && nMax != 0 && ends.size() > nMax),
              "a sound delimiter structure fails only on headers or the limit");
    return 0;
}
