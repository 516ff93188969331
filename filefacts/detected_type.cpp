// Media types from the signatures and first fields each format documents.
// A bare magic number of two to four bytes is backed by the fields after it
// where text or other binaries could carry the same bytes by chance.
#include "filefacts/file_facts.h"
#include "filefacts/header_bytes.h"

namespace filefacts {

namespace {

const char kZip[] = "application/zip";

// An OpenDocument package's first entry, "mimetype", stored, holds one of these.
const char* const kOpenDocumentTypes[] = {
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

// An Office Open XML package's main part lies in the folder of its kind.
struct OfficeFolder {
    const char* pszFolder;
    const char* pszType;
};
const OfficeFolder kOfficeFolders[] = {
    {"word/", "application/vnd.openxmlformats-officedocument.wordprocessingml.document"},
    {"xl/", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
    {"ppt/", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
};

std::size_t Length(const char* psz) {
    std::size_t cb = 0;
    while (psz[cb]) ++cb;
    return cb;
}

bool Equals(const HeaderBytes& h, std::size_t l, std::size_t cb, const char* psz) {
    return cb == Length(psz) && h.Is(l, psz, cb);
}

// A local file header (APPNOTE 4.3.7) at l, its name inside the bytes.
struct ZipEntry {
    std::uint32_t flags, method, cbPacked, cbPlain;
    std::size_t lName, cbName, lExtra, cbExtra;
};
constexpr std::size_t kcbZipLocalHeader = 30;
constexpr std::uint32_t kZipEncrypted = 1, kZipSizesAfterData = 8;

bool ReadZipEntry(const HeaderBytes& h, std::size_t l, ZipEntry* pEntry) {
    if (!h.Has(l, kcbZipLocalHeader) || !h.Is(l, "PK\x03\x04")) return false;
    pEntry->flags = h.U16LE(l + 6);
    pEntry->method = h.U16LE(l + 8);
    pEntry->cbPacked = h.U32LE(l + 18);
    pEntry->cbPlain = h.U32LE(l + 22);
    pEntry->lName = l + kcbZipLocalHeader;
    pEntry->cbName = h.U16LE(l + 26);
    pEntry->lExtra = pEntry->lName + pEntry->cbName;
    pEntry->cbExtra = h.U16LE(l + 28);
    return h.Has(pEntry->lName, pEntry->cbName);
}

// Where the entry after this one begins, or false when that is unknown or
// beyond the bytes. Sizes written after the data leave only a search for
// the next header; a size of 0xFFFFFFFF stands for ZIP64's in the extra field.
bool NextZipEntry(const HeaderBytes& h, const ZipEntry& entry, std::size_t* plNext) {
    if (!h.Has(entry.lExtra, entry.cbExtra)) return false;
    const std::size_t lData = entry.lExtra + entry.cbExtra;
    if (entry.flags & kZipSizesAfterData) {
        for (std::size_t l = lData; h.Has(l, 4); ++l) {
            if (h.Is(l, "PK\x03\x04")) {
                *plNext = l;
                return true;
            }
        }
        return false;
    }
    std::uint64_t cbData = entry.cbPacked;
    if (cbData == 0xFFFFFFFF) {
        // Extra blocks: id, size, data; ZIP64's holds the plain size, then the packed size.
        bool bFound = false;
        for (std::size_t l = entry.lExtra; !bFound && h.Has(l, 4) && l + 4 <= lData;) {
            const std::size_t cbBlock = h.U16LE(l + 2);
            if (cbBlock > lData - (l + 4)) return false;
            if (h.U16LE(l) == 1 && cbBlock >= 16) {
                cbData = h.U64LE(l + 4 + 8);
                bFound = true;
            }
            l += 4 + cbBlock;
        }
        if (!bFound) return false;
    }
    if (cbData > h.cb - lData) return false;
    *plNext = lData + static_cast<std::size_t>(cbData);
    return true;
}

// A ZIP's kind from its entries, as far as the bytes reach.
const char* ZipType(const HeaderBytes& h) {
    ZipEntry entry;
    if (!ReadZipEntry(h, 0, &entry)) return kZip;
    if (Equals(h, entry.lName, entry.cbName, "mimetype")) {
        const std::size_t lData = entry.lExtra + entry.cbExtra;
        if (entry.method != 0 || entry.flags & (kZipEncrypted | kZipSizesAfterData) ||
            entry.cbPacked != entry.cbPlain || !h.Has(entry.lExtra, entry.cbExtra) || !h.Has(lData, entry.cbPacked))
            return kZip;
        for (const char* pszType : kOpenDocumentTypes)
            if (Equals(h, lData, entry.cbPacked, pszType)) return pszType;
        return kZip;
    }
    // Writers differ in where they put [Content_Types].xml: it and the main
    // part's folder may come in either order.
    bool bContentTypes = false;
    const char* pszOffice = nullptr;
    for (std::size_t l = 0;;) {
        if (Equals(h, entry.lName, entry.cbName, "[Content_Types].xml")) bContentTypes = true;
        for (const OfficeFolder& folder : kOfficeFolders) {
            const std::size_t cbFolder = Length(folder.pszFolder);
            if (!pszOffice && entry.cbName >= cbFolder && h.Is(entry.lName, folder.pszFolder, cbFolder))
                pszOffice = folder.pszType;
        }
        if (bContentTypes && pszOffice) return pszOffice;
        // Each next header lies past the one read.
        if (!NextZipEntry(h, entry, &l) || !ReadZipEntry(h, l, &entry)) return kZip;
    }
}

bool IsTiff(const HeaderBytes& h) {
    if (!h.Has(0, 8)) return false;
    // Classic: 42 and the first IFD's offset; BigTIFF: 43, 8-byte offsets, 0.
    if (h.Is(0, "II*\0")) return h.U32LE(4) >= 8;
    if (h.Is(0, "MM\0*")) return h.U32BE(4) >= 8;
    if (h.Is(0, "II+\0")) return h.U16LE(4) == 8 && h.U16LE(6) == 0;
    if (h.Is(0, "MM\0+")) return h.U16BE(4) == 8 && h.U16BE(6) == 0;
    return false;
}

// Reserved 0, type 1 (icon), at least one image, and the first directory
// entry sound: reserved 0, 0 or 1 plane, a usual bit count, data after the
// directory.
bool IsIcon(const HeaderBytes& h) {
    if (!h.Has(0, 22) || !h.Is(0, "\0\0\x01\0")) return false;
    const std::uint32_t nImages = h.U16LE(4), planes = h.U16LE(10), bits = h.U16LE(12);
    if (nImages == 0 || h.pb[9] != 0 || planes > 1) return false;
    if (bits != 0 && bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
    return h.U32LE(14) != 0 && h.U32LE(18) >= 6 + 16 * nImages;
}

bool IsGzip(const HeaderBytes& h) {
    // Deflate is the only method; the top three flag bits are reserved.
    return h.Is(0, "\x1F\x8B\x08") && h.Has(3, 1) && (h.pb[3] & 0xE0) == 0;
}

const char* IsoMediaType(const HeaderBytes& h) {
    // The first box, "ftyp": size, type, major brand, minor version.
    if (!h.Has(0, 16) || !h.Is(4, "ftyp") || h.U32BE(0) < 16) return nullptr;
    if (h.Is(8, "qt  ")) return "video/quicktime";
    static const char kVideoBrands[][5] = {"isom", "iso2", "iso3", "iso4", "iso5", "iso6", "iso7", "iso8",
                                           "iso9", "mp41", "mp42", "mp71", "avc1", "dash", "msdh", "msix",
                                           "mmp4", "MSNV", "M4V ", "M4VH", "M4VP", "f4v ", "XAVC"};
    for (const char* pszBrand : kVideoBrands)
        if (h.Is(8, pszBrand, 4)) return "video/mp4";
    return nullptr;
}

// An MPEG audio frame header (MPEG-1, MPEG-2, MPEG-2.5; layers I-III).
struct MpegFrame {
    unsigned version, layer, rate;
    std::size_t cb;
};

bool ReadMpegFrame(const HeaderBytes& h, std::size_t l, MpegFrame* pFrame) {
    if (!h.Has(l, 4) || h.pb[l] != 0xFF || (h.pb[l + 1] & 0xE0) != 0xE0) return false;
    const unsigned version = h.pb[l + 1] >> 3 & 3;  // 0: 2.5, 1: reserved, 2: 2, 3: 1
    const unsigned layer = h.pb[l + 1] >> 1 & 3;    // 0: reserved, 1: III, 2: II, 3: I
    const unsigned bitrate = h.pb[l + 2] >> 4, rate = h.pb[l + 2] >> 2 & 3, padding = h.pb[l + 2] >> 1 & 1;
    // Free bit rates (0) give no frame length to check the next frame by.
    if (version == 1 || layer == 0 || bitrate == 0 || bitrate == 15 || rate == 3 || (h.pb[l + 3] & 3) == 2)
        return false;
    static const unsigned short kKbps[5][14] = {
        {32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},  // 1, I
        {32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},     // 1, II
        {32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320},      // 1, III
        {32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},     // 2 and 2.5, I
        {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},          // 2 and 2.5, II and III
    };
    const bool bMpeg1 = version == 3;
    const unsigned row = bMpeg1 ? 3 - layer : layer == 3 ? 3 : 4;
    const std::uint32_t nBitsPerSecond = kKbps[row][bitrate - 1] * 1000u;
    static const std::uint32_t kRates[3] = {44100, 48000, 32000};
    const std::uint32_t nRate = kRates[rate] >> (bMpeg1 ? 0 : version == 2 ? 1 : 2);
    if (layer == 3) pFrame->cb = (12 * nBitsPerSecond / nRate + padding) * 4;
    else if (layer == 1 && !bMpeg1) pFrame->cb = 72 * nBitsPerSecond / nRate + padding;
    else pFrame->cb = 144 * nBitsPerSecond / nRate + padding;
    pFrame->version = version;
    pFrame->layer = layer;
    pFrame->rate = rate;
    return true;
}

bool IsMpegAudio(const HeaderBytes& h) {
    if (h.Is(0, "ID3")) {
        // ID3v2.2-2.4: version, revision, flags (the low ones unused), a
        // 28-bit size in 7-bit bytes.
        if (!h.Has(0, 10)) return false;
        const unsigned major = h.pb[3], flags = h.pb[5];
        static const unsigned char kUnusedFlags[] = {0x3F, 0x1F, 0x0F};  // v2.2, v2.3, v2.4
        if (major < 2 || major > 4 || h.pb[4] == 0xFF || (flags & kUnusedFlags[major - 2]) != 0) return false;
        for (std::size_t l = 6; l < 10; ++l)
            if (h.pb[l] & 0x80) return false;
        return true;
    }
    // A frame at the start, and the next where its length says, as far as
    // the bytes reach.
    MpegFrame first, next;
    if (!ReadMpegFrame(h, 0, &first)) return false;
    if (!h.Has(first.cb, 4)) return true;
    return ReadMpegFrame(h, first.cb, &next) && next.version == first.version && next.layer == first.layer &&
           next.rate == first.rate;
}

// UTF-8 (RFC 3629: no overlong forms, no surrogates, nothing past
// U+10FFFF) with no control byte but tab, LF, FF and CR.
bool IsText(const HeaderBytes& h) {
    std::size_t l = h.Is(0, "\xEF\xBB\xBF") ? 3 : 0;
    while (l < h.cb) {
        const unsigned ch = h.pb[l++];
        if (ch < 0x80) {
            if ((ch < 0x20 && ch != '\t' && ch != '\n' && ch != '\f' && ch != '\r') || ch == 0x7F) return false;
            continue;
        }
        // Continuation bytes to follow, and the range of the first of them.
        unsigned nMore, lo = 0x80, hi = 0xBF;
        if (ch >= 0xC2 && ch <= 0xDF) nMore = 1;
        else if (ch >= 0xE0 && ch <= 0xEF) nMore = 2;
        else if (ch >= 0xF0 && ch <= 0xF4) nMore = 3;
        else return false;
        if (ch == 0xE0) lo = 0xA0;
        else if (ch == 0xED) hi = 0x9F;
        else if (ch == 0xF0) lo = 0x90;
        else if (ch == 0xF4) hi = 0x8F;
        for (unsigned k = 0; k < nMore; ++k, ++l) {
            if (l == h.cb) return true;  // cut by the end of the bytes given
            const unsigned chMore = h.pb[l];
            if (chMore < (k == 0 ? lo : 0x80) || chMore > (k == 0 ? hi : 0xBF)) return false;
        }
    }
    return true;
}

}  // namespace

const char* DetectedType(const unsigned char* pb, std::size_t cb) {
    const HeaderBytes h{pb, pb ? cb : 0};
    if (h.cb == 0) return "";
    if (IsPng(h)) return "image/png";
    if (IsJpeg(h)) return "image/jpeg";
    if (IsGif(h)) return "image/gif";
    if (IsBmp(h)) return "image/bmp";
    if (IsWebP(h)) return "image/webp";
    if (IsTiff(h)) return "image/tiff";
    if (IsIcon(h)) return "image/vnd.microsoft.icon";
    if (h.Is(0, "%PDF-")) return "application/pdf";
    if (h.Is(0, "PK\x03\x04")) return ZipType(h);
    if (h.Is(0, "PK\x05\x06")) return kZip;  // an empty archive: its end record alone
    if (IsGzip(h)) return "application/gzip";
    if (h.Is(0, "7z\xBC\xAF\x27\x1C")) return "application/x-7z-compressed";
    if (h.Is(0, "Rar!\x1A\x07\x00") || h.Is(0, "Rar!\x1A\x07\x01\x00")) return "application/vnd.rar";
    if (h.Is(0, "RIFF") && h.Is(8, "WAVE")) return "audio/wav";
    if (const char* pszType = IsoMediaType(h)) return pszType;
    if (IsMpegAudio(h)) return "audio/mpeg";
    const bool bText = IsText(h);
    // Windows runs a file by "MZ" and the offset at 0x3C, nothing more, so
    // every such file counts; a DOS header always holds NUL bytes, so one
    // whose bytes are all text is no program.
    if (h.Is(0, "MZ") && !bText) return "application/x-msdownload";
    return bText ? "text/plain" : "";
}

}  // namespace filefacts
