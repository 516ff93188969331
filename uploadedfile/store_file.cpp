#include "uploadedfile/store_file.h"

#include <utility>

#include "filefacts/file_facts.h"
#include "platform/bstr_text.h"
#include "platform/module_object.h"
#include "uploadedfile/spool_file.h"

namespace {

class StoreFile final : public UploadedFileSource {
public:
    StoreFile() = default;
    StoreFile(const StoreFile&) = delete;
    StoreFile& operator=(const StoreFile&) = delete;

    DWORD Take(ModuleBlock&& fullPath, UniqueFileHandle&& file, const wchar_t* pszFileName,
               const wchar_t* pszContentType, std::uint64_t cbSize);

    void AddRef() override { InterlockedIncrement(&m_lRefCount); }
    void Release() override {
        if (InterlockedDecrement(&m_lRefCount) == 0) ModuleDelete(this);
    }
    BSTR FieldName(std::uint32_t, UINT) const override { return SysAllocString(L""); }
    BSTR ClientFileName(std::uint32_t, UINT) const override { return CopyBstr(m_fileName.get()); }
    BSTR ContentType(std::uint32_t, UINT) const override { return CopyBstr(m_contentType.get()); }
    std::uint64_t Size(std::uint32_t) const override { return m_cbSize; }
    DWORD ReadValue(std::uint32_t, unsigned char* pb) const override { return m_file.Read(pb, m_cbSize); }
    DWORD ReadPieces(std::uint32_t, DWORD (*pfnPiece)(void*, const unsigned char*, DWORD),
                     void* pvContext) const override {
        return m_file.ReadPieces(m_cbSize, pfnPiece, pvContext);
    }
    DWORD SaveValue(std::uint32_t, const wchar_t* pszPath, bool bReplace) override {
        return SaveAtPagePath(
            pszPath, bReplace, [&](const wchar_t* pszFull) { return m_file.SaveTo(pszFull, m_cbSize, bReplace); },
            [&](const wchar_t* pszFull) { return m_file.LetGoIfAt(pszFull); });
    }
    KnownFacts* Facts(std::uint32_t) const override { return &m_facts; }

private:
    LONG m_lRefCount = 1;
    SpoolFile m_file;
    std::uint64_t m_cbSize = 0;
    UniqueBstr m_fileName, m_contentType;
    mutable KnownFacts m_facts{};
};

// Up to cb bytes from the file's start; fewer only at its end.
DWORD ReadHead(HANDLE hFile, unsigned char* pb, DWORD cb, DWORD* pcbRead) {
    *pcbRead = 0;
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(hFile, start, nullptr, FILE_BEGIN)) return GetLastError();
    while (*pcbRead < cb) {
        DWORD cbPiece = 0;
        if (!ReadFile(hFile, pb + *pcbRead, cb - *pcbRead, &cbPiece, nullptr)) return GetLastError();
        if (cbPiece == 0) break;
        *pcbRead += cbPiece;
    }
    return ERROR_SUCCESS;
}

BSTR TextOrEmpty(const wchar_t* psz) { return SysAllocString(psz ? psz : L""); }

}  // namespace

DWORD StoreFile::Take(ModuleBlock&& fullPath, UniqueFileHandle&& file, const wchar_t* pszFileName,
                      const wchar_t* pszContentType, std::uint64_t cbSize) {
    m_fileName.reset(TextOrEmpty(pszFileName));
    m_contentType.reset(TextOrEmpty(pszContentType));
    if (!m_fileName || !m_contentType) return ERROR_NOT_ENOUGH_MEMORY;
    MaskControlCharacters(m_fileName.get(), SysStringLen(m_fileName.get()));
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) return GetLastError();
    if (static_cast<std::uint64_t>(size.QuadPart) != cbSize) return ERROR_INVALID_DATA;
    ModuleBlock head(ModuleAlloc(filefacts::kcbFactsHead));
    if (!head) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD cbHead = 0;
    const DWORD dwError = ReadHead(file.get(), head.as<unsigned char>(), filefacts::kcbFactsHead, &cbHead);
    if (dwError != ERROR_SUCCESS) return dwError;
    ReadHeadFacts(head.as<unsigned char>(), cbHead, &m_facts);
    m_cbSize = cbSize;
    m_file.Adopt(std::move(file), std::move(fullPath));
    return ERROR_SUCCESS;
}

DWORD TakeOverStoreFile(const wchar_t* pszPath, UniqueFileHandle&& file, const wchar_t* pszFileName,
                        const wchar_t* pszContentType, std::uint64_t cbSize, UploadedFileSource** ppSource) {
    *ppSource = nullptr;
    UniqueFileHandle taken(std::move(file));
    if (!pszPath || !pszPath[0]) return ERROR_INVALID_PARAMETER;
    // Full: a save that cannot finish moves the file back to it.
    ModuleBlock full;
    DWORD dwError = SaveTargetPath(pszPath, &full);
    if (dwError != ERROR_SUCCESS) return dwError;
    if (!taken) {
        // Nobody writes to it or removes it while it is held; WRITE_DAC lets
        // it take its new folder's rights, and is done without where refused.
        const DWORD dwShare = FILE_SHARE_READ;
        const DWORD dwFlags = FILE_FLAG_SEQUENTIAL_SCAN | kPageFileFlags;
        taken.reset(CreateFileW(full.as<wchar_t>(), GENERIC_READ | DELETE | WRITE_DAC, dwShare, nullptr,
                                OPEN_EXISTING, dwFlags, nullptr));
        if (!taken && GetLastError() == ERROR_ACCESS_DENIED)
            taken.reset(CreateFileW(full.as<wchar_t>(), GENERIC_READ | DELETE, dwShare, nullptr, OPEN_EXISTING,
                                    dwFlags, nullptr));
        if (!taken) return GetLastError();
    }
    StoreFile* pFile = ModuleNew<StoreFile>();
    if (!pFile) return ERROR_NOT_ENOUGH_MEMORY;
    dwError = pFile->Take(std::move(full), std::move(taken), pszFileName, pszContentType, cbSize);
    if (dwError != ERROR_SUCCESS) {
        pFile->Release();
        return dwError;
    }
    *ppSource = pFile;
    return ERROR_SUCCESS;
}
