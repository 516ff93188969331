#include "asp_page.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>

namespace {

// Writes the script and records, for each of its lines, the page line it
// came from, so that an error is reported where the page author sees it.
class ScriptWriter {
public:
    explicit ScriptWriter(PageScript& script) : m_script(script) {}

    ULONG PageLine() const { return m_pageLine; }

    void Put(wchar_t c) {
        if (!m_lineOpen) {
            m_script.pageLines.push_back(m_pageLine);
            m_lineOpen = true;
        }
        m_script.text += c;
        if (c == L'\n') m_lineOpen = false;
    }
    void Put(const std::wstring& s) {
        for (wchar_t c : s) Put(c);
    }
    // Page code, as it stands.
    void Copy(const wchar_t* pch, size_t cch) {
        for (size_t i = 0; i < cch; ++i) {
            Put(pch[i]);
            if (pch[i] == L'\n') ++m_pageLine;
        }
    }
    // Page text that has been written some other way.
    void Pass(const wchar_t* pch, size_t cch) { m_pageLine += static_cast<ULONG>(std::count(pch, pch + cch, L'\n')); }

private:
    PageScript& m_script;
    ULONG m_pageLine = 1;
    bool m_lineOpen = false;
};

bool IsVBScript(const PageScript& script) { return script.language == L"VBScript"; }

// VBScript strings hold no line ends or escapes: control characters are
// joined in with Chr.
std::wstring VBScriptWrite(const wchar_t* pch, size_t cch) {
    std::wstring out = L"Response.Write \"";
    bool inString = true;
    for (size_t i = 0; i < cch; ++i) {
        wchar_t c = pch[i];
        if (c < 0x20 && c != L'\t') {
            out += inString ? L"\" & " : L" & ";
            out += L"Chr(" + std::to_wstring(static_cast<int>(c)) + L")";
            inString = false;
            continue;
        }
        if (!inString) {
            out += L" & \"";
            inString = true;
        }
        out += c;
        if (c == L'"') out += c;
    }
    if (inString) out += L'"';
    return out;
}

std::wstring JScriptWrite(const wchar_t* pch, size_t cch) {
    std::wstring out = L"Response.Write(\"";
    for (size_t i = 0; i < cch; ++i) {
        wchar_t c = pch[i];
        if (c == L'\\' || c == L'"') {
            out += L'\\';
            out += c;
        } else if (c == L'\r') {
            out += L"\\r";
        } else if (c == L'\n') {
            out += L"\\n";
        } else if (c < 0x20 || c == 0x2028 || c == 0x2029) {
            wchar_t escape[8];
            swprintf(escape, 8, L"\\u%04x", static_cast<unsigned>(c));
            out += escape;
        } else {
            out += c;
        }
    }
    out += L"\");";
    return out;
}

// <%@ Name=Value Name="Value" ... %>: only Language matters here.
bool ReadDirective(const std::wstring& text, std::wstring& language, std::wstring& error) {
    size_t i = 0;
    auto skipSpace = [&] { while (i < text.size() && iswspace(text[i])) ++i; };
    for (skipSpace(); i < text.size(); skipSpace()) {
        size_t nameStart = i;
        while (i < text.size() && (iswalnum(text[i]) || text[i] == L'_')) ++i;
        std::wstring name = text.substr(nameStart, i - nameStart);
        skipSpace();
        if (name.empty() || i >= text.size() || text[i] != L'=') {
            error = L"cannot read the directive: " + text;
            return false;
        }
        ++i;
        skipSpace();
        std::wstring value;
        if (i < text.size() && (text[i] == L'"' || text[i] == L'\'')) {
            size_t close = text.find(text[i], i + 1);
            if (close == std::wstring::npos) {
                error = L"unterminated value in the directive: " + text;
                return false;
            }
            value = text.substr(i + 1, close - i - 1);
            i = close + 1;
        } else {
            size_t valueStart = i;
            while (i < text.size() && !iswspace(text[i])) ++i;
            value = text.substr(valueStart, i - valueStart);
        }
        if (lstrcmpiW(name.c_str(), L"Language") != 0) continue;
        if (lstrcmpiW(value.c_str(), L"VBScript") == 0) {
            language = L"VBScript";
        } else if (lstrcmpiW(value.c_str(), L"JScript") == 0) {
            language = L"JScript";
        } else {
            error = L"unsupported page language " + value;
            return false;
        }
    }
    return true;
}

}  // namespace

ULONG PageScript::PageLine(ULONG scriptLine) const {
    if (pageLines.empty()) return 1;
    return pageLines[std::min<size_t>(scriptLine, pageLines.size() - 1)];
}

bool TranslatePage(const std::wstring& page, PageScript& script, std::wstring& error) {
    script = PageScript();
    script.language = L"VBScript";
    ScriptWriter writer(script);
    const wchar_t* pch = page.c_str();
    size_t pos = 0;

    if (page.compare(0, 3, L"<%@") == 0) {
        size_t close = page.find(L"%>", 3);
        if (close == std::wstring::npos) {
            error = L"the directive on line 1 has no %>";
            return false;
        }
        if (!ReadDirective(page.substr(3, close - 3), script.language, error)) return false;
        pos = close + 2;
        // The directive's line end is no part of the response: a VBScript
        // page's Option Explicit has to stay its first statement.
        if (page.compare(pos, 2, L"\r\n") == 0) {
            pos += 2;
        } else if (pos < page.size() && page[pos] == L'\n') {
            ++pos;
        }
        writer.Pass(pch, pos);
    }

    while (pos < page.size()) {
        size_t open = page.find(L"<%", pos);
        size_t textEnd = open == std::wstring::npos ? page.size() : open;
        if (textEnd > pos) {
            writer.Put(IsVBScript(script) ? VBScriptWrite(pch + pos, textEnd - pos)
                                          : JScriptWrite(pch + pos, textEnd - pos));
            writer.Pass(pch + pos, textEnd - pos);
            writer.Put(L'\n');
        }
        if (open == std::wstring::npos) break;
        size_t close = page.find(L"%>", open + 2);
        if (close == std::wstring::npos) {
            error = L"the <% on line " + std::to_wstring(writer.PageLine()) + L" has no %>";
            return false;
        }
        size_t codeStart = open + 2;
        if (page[codeStart] == L'@') {
            error = L"a directive on line " + std::to_wstring(writer.PageLine()) + L" is not at the page's start";
            return false;
        }
        if (page[codeStart] == L'=') {
            ++codeStart;
            writer.Put(L"Response.Write(");
            writer.Copy(pch + codeStart, close - codeStart);
            writer.Put(IsVBScript(script) ? L")" : L");");
        } else {
            writer.Copy(pch + codeStart, close - codeStart);
        }
        writer.Put(L'\n');
        pos = close + 2;
    }
    return true;
}
