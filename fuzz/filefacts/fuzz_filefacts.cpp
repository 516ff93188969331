// libFuzzer target for DetectedType and ImageSize (host, clang, ASan+UBSan).
// Input: the first bytes of a file. Besides reading nothing past the bytes
// (every cut is asked in a block of its own exact size) and ending, the
// answers must agree with each other and with those on the input's cuts:
//   - the type is one of the documented strings;
//   - a size comes with the image type of its format;
//   - a size found on a cut is the size of the whole;
//   - a type found on a cut of kcbTypeSignatures bytes or more is the
//     whole's, but for those judged on every byte given (nothing, text,
//     MPEG audio) and a plain ZIP, which may become a package.
#include "filefacts/file_facts.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

const char* const kTypes[] = {
    "",
    "image/png",
    "image/jpeg",
    "image/gif",
    "image/bmp",
    "image/webp",
    "image/tiff",
    "image/vnd.microsoft.icon",
    "application/pdf",
    "application/gzip",
    "application/x-7z-compressed",
    "application/vnd.rar",
    "audio/mpeg",
    "audio/wav",
    "video/mp4",
    "video/quicktime",
    "application/x-msdownload",
    "text/plain",
    "application/zip",
    "application/vnd.openxmlformats-officedocument.wordprocessingml.document",
    "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
    "application/vnd.openxmlformats-officedocument.presentationml.presentation",
    "application/vnd.oasis.opendocument.text",
    "application/vnd.oasis.opendocument.text-template",
    "application/vnd.oasis.opendocument.text-master",
    "application/vnd.oasis.opendocument.spreadsheet",
    "application/vnd.oasis.opendocument.spreadsheet-template",
    "application/vnd.oasis.opendocument.presentation",
    "application/vnd.oasis.opendocument.presentation-template",
    "application/vnd.oasis.opendocument.graphics",
    "application/vnd.oasis.opendocument.graphics-template",
    "application/vnd.oasis.opendocument.chart",
    "application/vnd.oasis.opendocument.formula",
};

void Check(bool bCondition, const char* pszWhat) {
    if (!bCondition) {
        std::fprintf(stderr, "file facts disagree: %s\n", pszWhat);
        std::abort();
    }
}

bool Same(const char* psz1, const char* psz2) { return std::strcmp(psz1, psz2) == 0; }

bool IsZipKind(const char* pszType) {
    return Same(pszType, "application/zip") || std::strncmp(pszType, "application/vnd.o", 17) == 0;
}

struct Facts {
    const char* pszType;
    bool bSize;
    std::uint32_t nWidth, nHeight;
};

// The answers for the first cb bytes, held in a block of exactly that size.
Facts Ask(const std::uint8_t* pbData, std::size_t cb) {
    std::vector<unsigned char> bytes(pbData, pbData + cb);
    const unsigned char* pb = bytes.empty() ? nullptr : bytes.data();
    Facts facts;
    facts.pszType = filefacts::DetectedType(pb, cb);
    facts.bSize = filefacts::ImageSize(pb, cb, &facts.nWidth, &facts.nHeight);
    bool bKnown = false;
    for (const char* pszType : kTypes) bKnown = bKnown || Same(pszType, facts.pszType);
    Check(bKnown, "a type of the list");
    Check(facts.bSize == (facts.nWidth != 0) && facts.bSize == (facts.nHeight != 0), "a size, or 0 and 0");
    const char* const kImageTypes[] = {"image/png", "image/jpeg", "image/gif", "image/bmp", "image/webp"};
    bool bImage = false;
    for (const char* pszType : kImageTypes) bImage = bImage || Same(pszType, facts.pszType);
    Check(!facts.bSize || bImage, "a size comes with an image type");
    return facts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pbData, std::size_t cbData) {
    const Facts whole = Ask(pbData, cbData);
    // Every cut within the signatures' reach, then a few further in.
    std::size_t acbCuts[filefacts::kcbTypeSignatures + 3];
    std::size_t nCuts = 0;
    for (std::size_t cb = 0; cb < filefacts::kcbTypeSignatures && cb < cbData; ++cb) acbCuts[nCuts++] = cb;
    for (std::size_t cb : {cbData / 2, cbData - cbData / 4, cbData - 1})
        if (cb >= filefacts::kcbTypeSignatures && cb < cbData) acbCuts[nCuts++] = cb;
    for (std::size_t i = 0; i < nCuts; ++i) {
        const Facts cut = Ask(pbData, acbCuts[i]);
        if (cut.bSize)
            Check(whole.bSize && cut.nWidth == whole.nWidth && cut.nHeight == whole.nHeight,
                  "a cut's size is the whole's");
        if (acbCuts[i] < filefacts::kcbTypeSignatures || !*cut.pszType || Same(cut.pszType, "text/plain") ||
            Same(cut.pszType, "audio/mpeg"))
            continue;
        if (Same(cut.pszType, "application/zip")) Check(IsZipKind(whole.pszType), "a ZIP's cut is a ZIP's");
        else Check(Same(cut.pszType, whole.pszType), "a cut's type is the whole's");
    }
    return 0;
}
