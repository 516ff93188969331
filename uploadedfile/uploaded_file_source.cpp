#include "uploadedfile/uploaded_file_source.h"

DWORD HashHeldFile(const UploadedFileSource& source, std::uint32_t iItem, HashAlgorithm algorithm,
                   unsigned char (&abDigest)[kcbMaxDigest]) {
    ContentHash hash;
    DWORD dwError = hash.Begin(algorithm);
    if (dwError != ERROR_SUCCESS) return dwError;
    dwError = source.ReadPieces(iItem, [](void* pv, const unsigned char* pb, DWORD cb) {
        return static_cast<ContentHash*>(pv)->Data(pb, cb);
    }, &hash);
    return dwError == ERROR_SUCCESS ? hash.Finish(abDigest) : dwError;
}

void MaskControlCharacters(wchar_t* pch, UINT cch) {
    for (UINT i = 0; i < cch; ++i)
        if (pch[i] < 0x20 || pch[i] == 0x7F) pch[i] = 0xFFFD;
}
