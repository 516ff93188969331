#include "upload/upload_errors.h"

#include <cstring>

#include "platform/error_info.h"
#include "upload/upload_interface.h"
#include "upload/upload_messages.h"

HRESULT UploadFailure(REFIID riid, HRESULT hr, const wchar_t* pszFormat, long lArgument) {
    wchar_t szText[512];
    wsprintfW(szText, pszFormat, lArgument);
    return PublishFailure(CLSID_Upload, riid, hr, szText);
}

HRESULT UploadFailureText(REFIID riid, HRESULT hr, const wchar_t* pszFormat, const wchar_t* pszFirst,
                          const wchar_t* pszSecond) {
    wchar_t szText[1024];
    wsprintfW(szText, pszFormat, pszFirst, pszSecond);
    return PublishFailure(CLSID_Upload, riid, hr, szText);
}

CountText::CountText(unsigned long long n) {
    wchar_t* pch = sz + 23;
    *pch = L'\0';
    do {
        *--pch = static_cast<wchar_t>(L'0' + n % 10);
        n /= 10;
    } while (n);
    std::memmove(sz, pch, static_cast<std::size_t>(sz + 24 - pch) * sizeof(wchar_t));
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
    return PublishFailure(CLSID_Upload, riid, HRESULT_FROM_WIN32(dwError), szText);
}

HRESULT UploadNoMemory() { return UploadFailure(IID_IUpload, E_OUTOFMEMORY, UploadMsg::kWorkMemory); }

HRESULT LoadFailure(PartsResult result, LONG lMaxParts) {
    switch (result) {
    case PartsResult::kNotMultipart:
        return UploadFailure(IID_IUpload, E_INVALIDARG, UploadMsg::kNotMultipart);
    case PartsResult::kBadLineEndings:
        return UploadFailure(IID_IUpload, E_INVALIDARG, UploadMsg::kBadLineEndings);
    case PartsResult::kBadHeaders:
        return UploadFailure(IID_IUpload, E_INVALIDARG, UploadMsg::kBadHeaders);
    case PartsResult::kNoClosingLine:
        return UploadFailure(IID_IUpload, E_INVALIDARG, UploadMsg::kNoClosingLine);
    case PartsResult::kTooManyParts:
        return UploadFailure(IID_IUpload, E_INVALIDARG, UploadMsg::kTooManyParts, lMaxParts);
    case PartsResult::kLineTooLong:
        return UploadFailure(IID_IUpload, E_INVALIDARG, UploadMsg::kLineTooLong);
    case PartsResult::kTooLarge:
        return UploadFailure(IID_IUpload, E_INVALIDARG, UploadMsg::kPartTooLarge);
    case PartsResult::kBoundaryMismatch:
        return UploadFailure(IID_IUpload, E_INVALIDARG, UploadMsg::kBoundaryMismatch);
    case PartsResult::kNoMemory:
    case PartsResult::kOk:
    case PartsResult::kStopped:
        break;
    }
    return UploadNoMemory();
}
