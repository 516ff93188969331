#include "upload/spool_file.h"

#include <aclapi.h>
#include <utility>

#include "platform/file_by_handle.h"
#include "platform/module_object.h"
#include "upload/save_file.h"

namespace {

constexpr DWORD kcbCopyPiece = 1u << 20;
constexpr std::uint64_t kcbReadPiece = 64u << 20;  // what one ReadFile takes on every system

// Exactly cb bytes from the file's current position; a file that ends
// first is an error.
DWORD ReadExact(HANDLE hFile, unsigned char* pb, DWORD cb) {
    while (cb > 0) {
        DWORD cbRead = 0;
        if (!ReadFile(hFile, pb, cb, &cbRead, nullptr)) return GetLastError();
        if (cbRead == 0) return ERROR_HANDLE_EOF;
        pb += cbRead;
        cb -= cbRead;
    }
    return ERROR_SUCCESS;
}

DWORD Rewind(HANDLE hFile) {
    LARGE_INTEGER start{};
    return SetFilePointerEx(hFile, start, nullptr, FILE_BEGIN) ? ERROR_SUCCESS : GetLastError();
}

// The first cb bytes of hSource into a new file at pszPath.
DWORD CopyToNewFile(HANDLE hSource, const wchar_t* pszPath, std::uint64_t cb) {
    ModuleBlock buffer(ModuleAlloc(kcbCopyPiece));
    if (!buffer) return ERROR_NOT_ENOUGH_MEMORY;
    const DWORD dwError = Rewind(hSource);
    if (dwError != ERROR_SUCCESS) return dwError;
    unsigned char* pbBuffer = buffer.as<unsigned char>();
    return WriteNewFile(pszPath, cb, kcbCopyPiece, [&](std::uint64_t, DWORD cbPiece, const unsigned char** ppb) {
        *ppb = pbBuffer;
        return ReadExact(hSource, pbBuffer, cbPiece);
    });
}

// The file takes its access rights from the folder it is in now, as a file
// made there would: an empty access list that is not protected gets the
// folder's inheritable entries. A moved file otherwise keeps the temporary
// folder's.
DWORD InheritFolderSecurity(HANDLE hFile) {
    ACL empty;
    if (!InitializeAcl(&empty, sizeof empty, ACL_REVISION)) return GetLastError();
    return SetSecurityInfo(hFile, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION,
                           nullptr, nullptr, &empty, nullptr);
}

}  // namespace

DWORD SpoolFile::Create(const wchar_t* pszFolder) {
    UniqueBstr path(ServerMadePath(pszFolder, static_cast<UINT>(lstrlenW(pszFolder)), L"varo-", L"tmp"));
    if (!path) return ERROR_NOT_ENOUGH_MEMORY;
    // Known for a move that has to be taken back.
    ModuleBlock tempPath = PathCopy(path.get());
    if (!tempPath) return ERROR_NOT_ENOUGH_MEMORY;
    // No sharing: nobody else reads, changes, renames or removes it while
    // it is ours. DELETE access lets it be marked for removal and moved,
    // WRITE_DAC lets it take its new folder's access rights.
    UniqueFileHandle file(CreateFileW(path.get(), GENERIC_READ | GENERIC_WRITE | DELETE | WRITE_DAC, 0, nullptr,
                                      CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return GetLastError();
    const DWORD dwError = MarkForDeletion(file.get(), true);
    if (dwError != ERROR_SUCCESS) {
        file.reset();
        DeleteFileW(path.get());
        return dwError;
    }
    m_file = std::move(file);
    m_tempPath = std::move(tempPath);
    return ERROR_SUCCESS;
}

DWORD SpoolFile::Append(const unsigned char* pb, DWORD cb) {
    DWORD cbWritten = 0;
    if (!WriteFile(m_file.get(), pb, cb, &cbWritten, nullptr)) return GetLastError();
    return cbWritten == cb ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

DWORD SpoolFile::OpenSource(UniqueFileHandle* pOpened, HANDLE* phSource) const {
    if (m_file) {
        *phSource = m_file.get();
        return ERROR_SUCCESS;
    }
    if (!m_savedPath) return ERROR_FILE_NOT_FOUND;
    pOpened->reset(CreateFileW(m_savedPath.as<wchar_t>(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!*pOpened) return GetLastError();
    *phSource = pOpened->get();
    return ERROR_SUCCESS;
}

DWORD SpoolFile::Read(unsigned char* pb, std::uint64_t cb) const {
    UniqueFileHandle opened;
    HANDLE hSource = nullptr;
    DWORD dwError = OpenSource(&opened, &hSource);
    if (dwError == ERROR_SUCCESS) dwError = Rewind(hSource);
    for (std::uint64_t cbDone = 0; cbDone < cb && dwError == ERROR_SUCCESS;) {
        const DWORD cbPiece = static_cast<DWORD>(cb - cbDone < kcbReadPiece ? cb - cbDone : kcbReadPiece);
        dwError = ReadExact(hSource, pb + cbDone, cbPiece);
        cbDone += cbPiece;
    }
    return dwError;
}

DWORD SpoolFile::ReadPieces(std::uint64_t cb, DWORD (*pfnPiece)(void*, const unsigned char*, DWORD),
                            void* pvContext) const {
    ModuleBlock buffer(ModuleAlloc(kcbCopyPiece));
    if (!buffer) return ERROR_NOT_ENOUGH_MEMORY;
    UniqueFileHandle opened;
    HANDLE hSource = nullptr;
    DWORD dwError = OpenSource(&opened, &hSource);
    if (dwError == ERROR_SUCCESS) dwError = Rewind(hSource);
    unsigned char* pbBuffer = buffer.as<unsigned char>();
    for (std::uint64_t cbDone = 0; cbDone < cb && dwError == ERROR_SUCCESS;) {
        const DWORD cbPiece = cb - cbDone < kcbCopyPiece ? static_cast<DWORD>(cb - cbDone) : kcbCopyPiece;
        dwError = ReadExact(hSource, pbBuffer, cbPiece);
        if (dwError == ERROR_SUCCESS) dwError = pfnPiece(pvContext, pbBuffer, cbPiece);
        cbDone += cbPiece;
    }
    return dwError;
}

DWORD SpoolFile::MoveTo(const wchar_t* pszFullPath) {
    // Known before the move, since afterwards the bytes are read from there.
    ModuleBlock savedPath = PathCopy(pszFullPath);
    if (!savedPath) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD dwError = MarkForDeletion(m_file.get(), false);
    if (dwError != ERROR_SUCCESS) return dwError;
    dwError = RenameOpenFile(m_file.get(), pszFullPath);
    // One answer for a name that is taken, as when a new file is made.
    if (dwError == ERROR_ALREADY_EXISTS) dwError = ERROR_FILE_EXISTS;
    if (dwError == ERROR_SUCCESS && InheritFolderSecurity(m_file.get()) != ERROR_SUCCESS) {
        // Never left with the temporary folder's rights: back, then copied.
        dwError = RenameOpenFile(m_file.get(), m_tempPath.as<wchar_t>()) == ERROR_SUCCESS
                      ? static_cast<DWORD>(ERROR_NOT_SAME_DEVICE)
                      : static_cast<DWORD>(ERROR_ACCESS_DENIED);
    }
    if (dwError == ERROR_SUCCESS) {
        SetOpenFileAttributes(m_file.get(), FILE_ATTRIBUTE_NORMAL);  // no longer temporary; cosmetic
        m_savedPath = std::move(savedPath);
        return ERROR_SUCCESS;
    }
    MarkForDeletion(m_file.get(), true);
    return dwError;
}

// Moved beside the file it replaces, then put in its place by one rename;
// a rename that fails takes it back to the temporary folder.
DWORD SpoolFile::MoveInPlaceOf(const wchar_t* pszFullPath) {
    ModuleBlock finalPath = PathCopy(pszFullPath);
    UniqueBstr sibling(SiblingPath(pszFullPath));
    if (!finalPath || !sibling) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD dwError = MoveTo(sibling.get());
    if (dwError != ERROR_SUCCESS) return dwError;
    dwError = RenameOpenFile(m_file.get(), pszFullPath, true);
    if (dwError == ERROR_SUCCESS) {
        m_savedPath = std::move(finalPath);
        return ERROR_SUCCESS;
    }
    RenameOpenFile(m_file.get(), m_tempPath.as<wchar_t>());
    MarkForDeletion(m_file.get(), true);  // wherever it stands now, it goes with the form
    m_savedPath.reset();
    return dwError;
}

DWORD SpoolFile::SaveTo(const wchar_t* pszFullPath, std::uint64_t cb, bool bReplace) {
    if (m_file) {
        const DWORD dwError = bReplace ? MoveInPlaceOf(pszFullPath) : MoveTo(pszFullPath);
        if (dwError == ERROR_SUCCESS) {
            m_file.reset();
            return ERROR_SUCCESS;
        }
        if (dwError != ERROR_NOT_SAME_DEVICE) return dwError;
        // Another volume (or a system that cannot move an open file): copy.
    }
    UniqueFileHandle opened;
    HANDLE hSource = nullptr;
    const DWORD dwError = OpenSource(&opened, &hSource);
    if (dwError != ERROR_SUCCESS) return dwError;
    if (!bReplace) return CopyToNewFile(hSource, pszFullPath, cb);
    return ReplaceThroughSibling(pszFullPath, [&](const wchar_t* pszSibling) {
        const DWORD dwCopied = CopyToNewFile(hSource, pszSibling, cb);
        opened.reset();  // the saved file may be the one replaced: no handle of ours may hold it then
        return dwCopied;
    });
}

void DeleteSpoolFiles(ModuleBlock& files, std::uint32_t nFiles) {
    SpoolFile** ppFiles = files.as<SpoolFile*>();
    for (std::uint32_t i = 0; ppFiles && i < nFiles; ++i) ModuleDelete(ppFiles[i]);
    files.reset();
}
