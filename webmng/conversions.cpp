#include "webmng/conversions.h"

#include <climits>
#include <cstdint>
#include <cstring>

#include "formscan/form_scan.h"
#include "platform/multibyte_text.h"
#include "platform/text_services.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "the system's wide text is UTF-16");

AnsiConversion AnsiString::Convert(BSTR bstrWide) {
    m_block.reset();
    if (HasEmbeddedZero(bstrWide)) return AnsiConversion::kRefused;
    static const char16_t kEmpty[] = u"";
    const char16_t* pszWide = bstrWide ? reinterpret_cast<const char16_t*>(bstrWide) : kEmpty;
    bool bInexact = false;
    int cb = TextWideToAnsiExact(pszWide, nullptr, 0, &bInexact);
    if (bInexact) return AnsiConversion::kRefused;
    if (cb <= 0) cb = 1;
    m_block.reset(ModuleAlloc(cb));
    char* psz = m_block.as<char>();
    if (!psz) return AnsiConversion::kNoMemory;
    psz[0] = '\0';
    if (TextWideToAnsiExact(pszWide, psz, cb, &bInexact) <= 0) psz[0] = '\0';
    return bInexact ? AnsiConversion::kRefused : AnsiConversion::kExact;
}

BSTR AnsiToWide(const char* pchAnsi, int cb) { return MultiByteToBstr(CP_ACP, pchAnsi, cb); }

BSTR AnsiToWide(const char* pszAnsi) { return MultiByteToBstr(CP_ACP, pszAnsi, -1); }

bool JoinValues(const FormScan& scan, ModuleBlock& buffer, std::size_t* pcbBuffer) {
    std::size_t cbSize = 0;
    for (std::int32_t i = 0; i < scan.lValueCount; ++i) cbSize += static_cast<std::size_t>(scan.lValueLength[i]) + 1;
    // The joined bytes (without the last comma) must fit the 32-bit lengths
    // of a byte array, a string and one write; a 32-bit process could not
    // hold more, and a 64-bit one refuses it the same way.
    if (cbSize > static_cast<std::size_t>(INT32_MAX) + 1) return false;
    buffer.reset(ModuleAlloc(cbSize));
    unsigned char* pb = buffer.as<unsigned char>();
    if (!pb) return false;
    for (std::int32_t i = 0; i < scan.lValueCount; ++i) {
        std::memcpy(pb, scan.pValueStart[i], scan.lValueLength[i]);
        pb += scan.lValueLength[i];
        *pb++ = ',';
    }
    *pcbBuffer = cbSize;
    return true;
}

BSTR JoinedValuesToWide(const FormScan& scan, bool* pbNoWorkMemory) {
    *pbNoWorkMemory = false;
    // ASCII values are widened straight from the body into the answer.
    std::size_t cch = static_cast<std::size_t>(scan.lValueCount) - 1;
    for (std::int32_t i = 0; i < scan.lValueCount; ++i) cch += static_cast<std::size_t>(scan.lValueLength[i]);
    if (cch <= static_cast<std::size_t>(INT_MAX)) {
        if (BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(cch))) {
            WCHAR* pwch = bstr;
            bool bAscii = true;
            for (std::int32_t i = 0; bAscii && i < scan.lValueCount; ++i) {
                if (i > 0) *pwch++ = L',';
                bAscii = WidenAscii(reinterpret_cast<const char*>(scan.pValueStart[i]), scan.lValueLength[i], pwch);
                pwch += scan.lValueLength[i];
            }
            if (bAscii) return bstr;
            SysFreeString(bstr);
        }
    }
    // Other text is joined and converted whole: a double-byte character may
    // not be cut from the byte after it.
    ModuleBlock joined;
    std::size_t cbJoined = 0;
    if (!JoinValues(scan, joined, &cbJoined)) {
        *pbNoWorkMemory = true;
        return nullptr;
    }
    // Every byte but the final comma, zero bytes included: a value holding a
    // zero byte must not cut off what follows it.
    return AnsiToWide(joined.as<const char>(), static_cast<int>(cbJoined - 1));
}
