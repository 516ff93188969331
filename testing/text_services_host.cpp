// Host text services imitating the Windows ANSI code page services for code
// pages 932 (through glibc's iconv) and 1252, so the cores' double-byte rules
// run natively. Unmappable characters become '?', as the default character.
#include "testing/host_services.h"
#include "platform/text_services.h"

#include <iconv.h>

#include <atomic>
#include <cstring>
#include <string>

namespace {
std::atomic<unsigned> g_nCodePage{932};

const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

bool Is932() { return g_nCodePage.load() == 932; }

bool IsLead932(unsigned char ch) { return (ch >= 0x81 && ch <= 0x9F) || (ch >= 0xE0 && ch <= 0xFC); }

// One iconv descriptor per direction and thread; iconv state is not shared.
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Converter() { if (m_cd != reinterpret_cast<iconv_t>(-1)) iconv_close(m_cd); }
    // Converts one character's bytes; false when the code page has no mapping.
    bool Convert(const char* pIn, size_t cbIn, char* pOut, size_t cbOutRoom, size_t* pcbOut) {
        if (m_cd == reinterpret_cast<iconv_t>(-1)) return false;
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(pIn);
        char* out = pOut;
        size_t inLeft = cbIn, outLeft = cbOutRoom;
        if (iconv(m_cd, &in, &inLeft, &out, &outLeft) == static_cast<size_t>(-1) || inLeft != 0) return false;
        *pcbOut = cbOutRoom - outLeft;
        return true;
    }
private:
    iconv_t m_cd;
};

size_t DecodeAnsi(const unsigned char* p, std::u16string& out);

// Appends the ANSI bytes of one code point; false when the code page holds
// it only approximately (a best-fit mapping such as U+00A5 to 0x5C in 932)
// or not at all ('?' appended).
bool AppendAnsi(char32_t cp, std::string& out) {
    if (cp < 0x80) { out += static_cast<char>(cp); return true; }
    if (!Is932()) {
        if (cp >= 0xA0 && cp <= 0xFF) { out += static_cast<char>(cp); return true; }
        for (int i = 0; i < 32; ++i)
            if (kCp1252High[i] == cp) { out += static_cast<char>(0x80 + i); return true; }
        out += '?';
        return false;
    }
    thread_local Converter toCp932("CP932", "UTF-32LE");
    char32_t in = cp;
    char buf[4] = {};
    size_t cb = 0;
    if (!toCp932.Convert(reinterpret_cast<const char*>(&in), 4, buf, sizeof buf - 1, &cb)) {
        out += '?';
        return false;
    }
    out.append(buf, cb);
    std::u16string back;
    DecodeAnsi(reinterpret_cast<const unsigned char*>(buf), back);
    return back.size() == 1 && back[0] == cp;
}

// Decodes one ANSI character at p into UTF-16 units; returns bytes consumed.
size_t DecodeAnsi(const unsigned char* p, std::u16string& out) {
    if (*p < 0x80) { out += static_cast<char16_t>(*p); return 1; }
    if (!Is932()) {
        out += *p >= 0xA0 ? static_cast<char16_t>(*p) : kCp1252High[*p - 0x80];
        return 1;
    }
    size_t cbChar = (IsLead932(*p) && p[1] != 0) ? 2 : 1;
    thread_local Converter fromCp932("UTF-16LE", "CP932");
    char16_t buf[4];
    size_t cb = 0;
    if (fromCp932.Convert(reinterpret_cast<const char*>(p), cbChar, reinterpret_cast<char*>(buf), sizeof buf, &cb))
        out.append(buf, cb / 2);
    else
        out += cbChar == 2 ? u'\x30FB' : u'?';
    return cbChar;
}

std::u16string Widen(const char* psz) {
    std::u16string out;
    for (auto p = reinterpret_cast<const unsigned char*>(psz); *p;) p += DecodeAnsi(p, out);
    return out;
}

char16_t FoldCase(char16_t ch) {
    if (ch >= u'a' && ch <= u'z') return ch - 0x20;
    if (ch >= 0xE0 && ch <= 0xFE && ch != 0xF7) return ch - 0x20;       // Latin-1 letters
    if (ch >= 0xFF41 && ch <= 0xFF5A) return ch - 0x20;                 // full-width a-z
    return ch;
}
}  // namespace

void HostSetCodePage(unsigned nCodePage) { g_nCodePage.store(nCodePage == 1252 ? 1252 : 932); }
unsigned HostGetCodePage() { return g_nCodePage.load(); }

namespace {
int WideToAnsi(const char16_t* pszWide, char* pszAnsi, int cbAnsi, bool* pbInexact) {
    if (pbInexact) *pbInexact = false;
    if (!pszWide || cbAnsi < 0) return 0;
    std::string out;
    bool bExact = true;
    for (const char16_t* p = pszWide; *p; ++p) {
        char32_t cp = *p;
        if (cp >= 0xD800 && cp <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (p[1] - 0xDC00);
            ++p;
        }
        bExact = AppendAnsi(cp, out) && bExact;
    }
    if (pbInexact && !bExact) {
        *pbInexact = true;
        return 0;
    }
    int cbNeeded = static_cast<int>(out.size()) + 1;
    if (cbAnsi == 0) return cbNeeded;
    if (cbAnsi < cbNeeded) return 0;
    std::memcpy(pszAnsi, out.c_str(), cbNeeded);
    return cbNeeded;
}
}  // namespace

int TextWideToAnsi(const char16_t* pszWide, char* pszAnsi, int cbAnsi) {
    return WideToAnsi(pszWide, pszAnsi, cbAnsi, nullptr);
}

int TextWideToAnsiExact(const char16_t* pszWide, char* pszAnsi, int cbAnsi, bool* pbInexact) {
    return WideToAnsi(pszWide, pszAnsi, cbAnsi, pbInexact);
}

int TextAnsiToWide(const char* pszAnsi, char16_t* pszWide, int cchWide) {
    if (!pszAnsi || cchWide < 0) return 0;
    std::u16string out = Widen(pszAnsi);
    int cchNeeded = static_cast<int>(out.size()) + 1;
    if (cchWide == 0) return cchNeeded;
    if (cchWide < cchNeeded) return 0;
    std::memcpy(pszWide, out.c_str(), cchNeeded * sizeof(char16_t));
    return cchNeeded;
}

const char* TextCharNext(const char* psz) {
    if (!psz || !*psz) return psz;
    auto p = reinterpret_cast<const unsigned char*>(psz);
    return psz + ((Is932() && IsLead932(p[0]) && p[1] != 0) ? 2 : 1);
}

bool TextIsLeadByte(unsigned char ch) { return Is932() && IsLead932(ch); }

int TextCompareNoCase(const char* psz1, const char* psz2) {
    std::u16string a = Widen(psz1 ? psz1 : ""), b = Widen(psz2 ? psz2 : "");
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        char16_t x = FoldCase(a[i]), y = FoldCase(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}
