#include "text_codec.h"

#include <cwctype>

namespace {

struct Charset {
    const wchar_t* pszName;
    UINT uCodePage;
};

const Charset kCharsets[] = {
    {L"Shift_JIS", 932}, {L"Shift-JIS", 932},    {L"x-sjis", 932},       {L"windows-31j", 932},
    {L"UTF-8", CP_UTF8}, {L"utf8", CP_UTF8},     {L"EUC-JP", 20932},     {L"ISO-2022-JP", 50220},
    {L"windows-1252", 1252}, {L"ISO-8859-1", 1252}, {L"us-ascii", 20127},
};

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

}  // namespace

bool CodePageOfCharset(const std::wstring& charset, UINT& uCodePage) {
    for (const Charset& c : kCharsets) {
        if (lstrcmpiW(charset.c_str(), c.pszName) == 0) {
            uCodePage = c.uCodePage;
            return IsValidCodePage(uCodePage) || uCodePage == CP_UTF8;
        }
    }
    return false;
}

std::string Encode(const std::wstring& text, UINT uCodePage) {
    if (text.empty()) return std::string();
    int cb = WideCharToMultiByte(uCodePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                 nullptr);
    std::string out(cb > 0 ? cb : 0, '\0');
    if (cb > 0)
        WideCharToMultiByte(uCodePage, 0, text.data(), static_cast<int>(text.size()), &out[0], cb, nullptr, nullptr);
    return out;
}

bool Decode(const char* pch, size_t cb, UINT uCodePage, std::wstring& text) {
    text.clear();
    if (cb == 0) return true;
    if (cb > 0x7fffffff) return false;
    int cch = MultiByteToWideChar(uCodePage, MB_ERR_INVALID_CHARS, pch, static_cast<int>(cb), nullptr, 0);
    if (cch <= 0) return false;
    text.resize(cch);
    return MultiByteToWideChar(uCodePage, MB_ERR_INVALID_CHARS, pch, static_cast<int>(cb), &text[0], cch) == cch;
}

std::string Utf8(const std::wstring& text) { return Encode(text, CP_UTF8); }

std::wstring DecodeLoose(const std::string& bytes, UINT uCodePage) {
    std::wstring text;
    if (Decode(bytes.data(), bytes.size(), uCodePage, text) || bytes.size() > 0x7fffffff) return text;
    // Keep what can be read, with the code page's stand-in for the rest.
    int cch = MultiByteToWideChar(uCodePage, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    text.assign(cch > 0 ? cch : 0, L'\0');
    if (cch > 0) MultiByteToWideChar(uCodePage, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], cch);
    return text;
}

std::wstring FromUtf8(const std::string& bytes) { return DecodeLoose(bytes, CP_UTF8); }

std::wstring UrlEncode(const std::wstring& text, UINT uCodePage) {
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    std::wstring out;
    for (unsigned char b : Encode(text, uCodePage)) {
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '-' || b == '.' ||
            b == '_' || b == '~') {
            out += static_cast<wchar_t>(b);
        } else if (b == ' ') {
            out += L'+';
        } else {
            out += L'%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
    }
    return out;
}

std::wstring UrlDecode(const std::wstring& text, UINT uCodePage) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        wchar_t c = text[i];
        if (c == L'+') {
            bytes += ' ';
        } else if (c == L'%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 && HexDigit(text[i + 2]) >= 0) {
            bytes += static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2]));
            i += 2;
        } else if (c < 0x80) {
            bytes += static_cast<char>(c);
        } else {
            // A character sent unencoded: keep it as the code page spells it.
            bytes += Encode(std::wstring(1, c), uCodePage);
        }
    }
    return DecodeLoose(bytes, uCodePage);
}
