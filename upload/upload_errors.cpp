#include "upload/upload_errors.h"

#include <cstring>

CountText::CountText(unsigned long long n) {
    wchar_t* pch = sz + 23;
    *pch = L'\0';
    do {
        *--pch = static_cast<wchar_t>(L'0' + n % 10);
        n /= 10;
    } while (n);
    std::memmove(sz, pch, static_cast<std::size_t>(sz + 24 - pch) * sizeof(wchar_t));
}

HRESULT LoadFailure(PartsResult result, LONG lMaxParts) {
    switch (result) {
    case PartsResult::kNotMultipart:
        return kUploadErrors.Fail(Refusal::kNotForm, Msg::kNotMultipart);
    case PartsResult::kBadLineEndings:
        return kUploadErrors.Fail(Refusal::kNotForm, Msg::kBadLineEndings);
    case PartsResult::kBadHeaders:
        return kUploadErrors.Fail(Refusal::kNotForm, Msg::kBadHeaders);
    case PartsResult::kNoClosingLine:
        return kUploadErrors.Fail(Refusal::kNotForm, Msg::kNoClosingLine);
    case PartsResult::kTooManyParts:
        return kUploadErrors.Fail(Refusal::kTooManyParts, Msg::kTooManyParts, lMaxParts);
    case PartsResult::kLineTooLong:
        return kUploadErrors.Fail(Refusal::kNotForm, Msg::kLineTooLong);
    case PartsResult::kTooLarge:
        return kUploadErrors.Fail(Refusal::kPartTooLarge, Msg::kPartTooLarge);
    case PartsResult::kBoundaryMismatch:
        return kUploadErrors.Fail(Refusal::kNotForm, Msg::kBoundaryMismatch);
    case PartsResult::kNoMemory:
    case PartsResult::kOk:
    case PartsResult::kStopped:
        break;
    }
    return kUploadErrors.NoMemory();
}
