#include "upload/upload_errors.h"

#include "platform/error_info.h"
#include "upload/upload_interface.h"

HRESULT UploadFailure(REFIID riid, HRESULT hr, const wchar_t* pszFormat, long lArgument) {
    wchar_t szText[512];
    wsprintfW(szText, pszFormat, lArgument);
    PublishErrorInfo(CLSID_Upload, riid, szText);
    return hr;
}

HRESULT UploadSystemFailure(REFIID riid, const wchar_t* pszMessage, DWORD dwError) {
    wchar_t szSystem[256] = L"";
    DWORD cch = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwError, 0,
                               szSystem, sizeof szSystem / sizeof szSystem[0], nullptr);
    // The system's text ends in a line break; the description is one line.
    while (cch > 0 && (szSystem[cch - 1] == L'\r' || szSystem[cch - 1] == L'\n' || szSystem[cch - 1] == L' '))
        szSystem[--cch] = L'\0';
    wchar_t szText[768];
    if (cch > 0)
        wsprintfW(szText, L"%s (%s コード %lu)", pszMessage, szSystem, dwError);
    else
        wsprintfW(szText, L"%s (コード %lu)", pszMessage, dwError);
    PublishErrorInfo(CLSID_Upload, riid, szText);
    return HRESULT_FROM_WIN32(dwError);
}
