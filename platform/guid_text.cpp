#include "platform/guid_text.h"

#include <rpc.h>

namespace {
template <class Char>
bool WriteGuidText(const GUID& guid, GuidForm form, Char (&szText)[kcchGuidText]) {
    szText[0] = 0;
    GUID copy = guid;  // the call takes a pointer it does not write through
    RPC_CSTR pszRpc = nullptr;
    if (UuidToStringA(&copy, &pszRpc) != RPC_S_OK || !pszRpc) return false;
    const bool bBraced = form == GuidForm::kUpperBraced;
    Char* pch = szText;
    if (bBraced) *pch++ = '{';
    int cch = 0;
    for (const unsigned char* pb = pszRpc; *pb && cch < 36; ++pb, ++cch) {
        const unsigned char ch = *pb;
        *pch++ = static_cast<Char>(bBraced && ch >= 'a' && ch <= 'f' ? ch - 'a' + 'A' : ch);
    }
    const bool bWhole = cch == 36 && pszRpc[36] == 0;
    RpcStringFreeA(&pszRpc);
    if (!bWhole) {
        szText[0] = 0;
        return false;
    }
    if (bBraced) *pch++ = '}';
    *pch = 0;
    return true;
}
}  // namespace

bool GuidToText(const GUID& guid, GuidForm form, char (&szText)[kcchGuidText]) {
    return WriteGuidText(guid, form, szText);
}

bool GuidToText(const GUID& guid, GuidForm form, wchar_t (&szText)[kcchGuidText]) {
    return WriteGuidText(guid, form, szText);
}
