#include "upload/save_file.h"

#include "platform/win32_owners.h"

DWORD SaveNewFile(const wchar_t* pszPath, const unsigned char* pbBytes, std::uint64_t cbBytes) {
    UniqueFileHandle file(CreateFileW(pszPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return GetLastError();
    DWORD dwError = ERROR_SUCCESS;
    // In pieces that a single WriteFile takes on every system.
    constexpr std::uint64_t kcbPiece = 64u << 20;
    for (std::uint64_t cbDone = 0; cbDone < cbBytes && dwError == ERROR_SUCCESS;) {
        const DWORD cbPiece = static_cast<DWORD>(cbBytes - cbDone < kcbPiece ? cbBytes - cbDone : kcbPiece);
        DWORD cbWritten = 0;
        if (!WriteFile(file.get(), pbBytes + cbDone, cbPiece, &cbWritten, nullptr))
            dwError = GetLastError();
        else if (cbWritten != cbPiece)
            dwError = ERROR_WRITE_FAULT;
        cbDone += cbWritten;
    }
    if (dwError != ERROR_SUCCESS) {
        // The file is ours (made new above): a partial one would pass for the upload.
        file.reset();
        DeleteFileW(pszPath);
    }
    return dwError;
}

const wchar_t* HarmlessExtension(const wchar_t* pszExtension) {
    static const wchar_t* const kHarmless[] = {L"txt", L"csv", L"pdf", L"png", L"jpg", L"jpeg", L"gif", L"webp", L"zip"};
    for (const wchar_t* pszHarmless : kHarmless)
        if (lstrcmpW(pszExtension, pszHarmless) == 0) return pszHarmless;
    return L"bin";
}
