#include "uploadedfile/spool_file.h"

#include <aclapi.h>
#include <utility>

#include "platform/file_by_handle.h"
#include "platform/module_object.h"

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

// The first cb bytes of hSource to pszPath, as WriteThroughSibling.
DWORD CopyTo(HANDLE hSource, const wchar_t* pszPath, bool bReplace, std::uint64_t cb) {
    ModuleBlock buffer(ModuleAlloc(kcbCopyPiece));
    if (!buffer) return ERROR_NOT_ENOUGH_MEMORY;
    const DWORD dwError = Rewind(hSource);
    if (dwError != ERROR_SUCCESS) return dwError;
    unsigned char* pbBuffer = buffer.as<unsigned char>();
    return WriteThroughSibling(pszPath, bReplace, cb, kcbCopyPiece,
                               [&](std::uint64_t, DWORD cbPiece, const unsigned char** ppb) {
                                   *ppb = pbBuffer;
                                   return ReadExact(hSource, pbBuffer, cbPiece);
                               });
}

// Whether two files' information is of one file; with bUnchanged also of
// the same size and last write.
bool SameFile(const BY_HANDLE_FILE_INFORMATION& first, const BY_HANDLE_FILE_INFORMATION& second, bool bUnchanged) {
    if (first.dwVolumeSerialNumber != second.dwVolumeSerialNumber || first.nFileIndexHigh != second.nFileIndexHigh ||
        first.nFileIndexLow != second.nFileIndexLow)
        return false;
    return !bUnchanged || (first.nFileSizeHigh == second.nFileSizeHigh && first.nFileSizeLow == second.nFileSizeLow &&
                           CompareFileTime(&first.ftLastWriteTime, &second.ftLastWriteTime) == 0);
}

// Whether the file open as hFile is the one at pszPath.
bool IsFileAt(HANDLE hFile, const wchar_t* pszPath) {
    // No access asked: opened whatever the sharing of the handles on it.
    UniqueFileHandle other(CreateFileW(pszPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                       OPEN_EXISTING, kPageFileFlags, nullptr));
    BY_HANDLE_FILE_INFORMATION first, second;
    return other && GetFileInformationByHandle(hFile, &first) && GetFileInformationByHandle(other.get(), &second) &&
           SameFile(first, second, false);
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
                                      CREATE_NEW, kUnplacedFileAttributes | FILE_FLAG_SEQUENTIAL_SCAN | kPageFileFlags,
                                      nullptr));
    if (!file) return GetLastError();
    const DWORD dwError = MarkForDeletion(file.get(), true);
    if (dwError != ERROR_SUCCESS) {
        file.reset();
        DeleteFileW(path.get());
        return dwError;
    }
    m_file = std::move(file);
    m_tempPath = std::move(tempPath);
    m_bRemoveOnClose = true;
    return ERROR_SUCCESS;
}

void SpoolFile::Adopt(UniqueFileHandle&& file, ModuleBlock&& fullPath) {
    m_file = std::move(file);
    m_tempPath = std::move(fullPath);
    m_bRemoveOnClose = false;
}

DWORD SpoolFile::Append(const unsigned char* pb, DWORD cb) {
    DWORD cbWritten = 0;
    if (!WriteFile(m_file.get(), pb, cb, &cbWritten, nullptr)) return GetLastError();
    return cbWritten == cb ? ERROR_SUCCESS : ERROR_WRITE_FAULT;
}

DWORD SpoolFile::Source(HANDLE* phSource) const {
    *phSource = m_file ? m_file.get() : m_saved ? m_saved.get() : nullptr;
    return *phSource ? ERROR_SUCCESS : kErrorSavedFileChanged;
}

DWORD SpoolFile::Read(unsigned char* pb, std::uint64_t cb) const {
    HANDLE hSource = nullptr;
    DWORD dwError = Source(&hSource);
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
    HANDLE hSource = nullptr;
    DWORD dwError = Source(&hSource);
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
    // A temporary file is still hidden here: should the worker die before
    // the file is in its place, what it leaves is known for a leftover.
    DWORD dwError = m_bRemoveOnClose ? MarkForDeletion(m_file.get(), false) : static_cast<DWORD>(ERROR_SUCCESS);
    if (dwError == ERROR_SUCCESS) dwError = RenameOpenFile(m_file.get(), pszFullPath);
    if (dwError == ERROR_ALREADY_EXISTS) dwError = ERROR_FILE_EXISTS;
    if (dwError == ERROR_SUCCESS && InheritFolderSecurity(m_file.get()) != ERROR_SUCCESS) {
        // Never left with the temporary folder's rights: back, then copied.
        dwError = RenameOpenFile(m_file.get(), m_tempPath.as<wchar_t>()) == ERROR_SUCCESS
                      ? static_cast<DWORD>(ERROR_NOT_SAME_DEVICE)
                      : static_cast<DWORD>(ERROR_ACCESS_DENIED);
    }
    if (dwError != ERROR_SUCCESS && m_bRemoveOnClose) MarkForDeletion(m_file.get(), true);
    return dwError;
}

// Moved beside the file it replaces, then put in its place by one rename;
// a rename that fails takes it back to the temporary folder.
DWORD SpoolFile::MoveInPlaceOf(const wchar_t* pszFullPath) {
    UniqueBstr sibling(SiblingPath(pszFullPath));
    if (!sibling) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD dwError = MoveTo(sibling.get());
    if (dwError != ERROR_SUCCESS) return dwError;
    dwError = RenameOpenFile(m_file.get(), pszFullPath, true);
    if (dwError == ERROR_SUCCESS) return ERROR_SUCCESS;
    RenameOpenFile(m_file.get(), m_tempPath.as<wchar_t>());
    // Wherever it stands now, a temporary file goes with its owner.
    if (m_bRemoveOnClose) MarkForDeletion(m_file.get(), true);
    return dwError;
}

void SpoolFile::HoldSaved(const wchar_t* pszFullPath) {
    SetOpenFileAttributes(m_file.get(), FILE_ATTRIBUTE_NORMAL);  // the page's file now
    // The temporary file's handle shares nothing, so the saved file can only
    // be opened again once it is closed: whatever happened at the path in
    // between shows as another file, size or last write, and then nothing is
    // held and the file object refuses rather than answer for other bytes.
    BY_HANDLE_FILE_INFORMATION moved, held;
    const bool bKnown = GetFileInformationByHandle(m_file.get(), &moved) != FALSE;
    m_file.reset();
    m_saved.reset(CreateFileW(pszFullPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN | kPageFileFlags, nullptr));
    if (m_saved && !(bKnown && GetFileInformationByHandle(m_saved.get(), &held) && SameFile(moved, held, true)))
        m_saved.reset();
}

DWORD SpoolFile::SaveTo(const wchar_t* pszFullPath, std::uint64_t cb, bool bReplace) {
    if (m_file) {
        const DWORD dwError = bReplace ? MoveInPlaceOf(pszFullPath) : MoveTo(pszFullPath);
        if (dwError == ERROR_SUCCESS) {
            HoldSaved(pszFullPath);
            return ERROR_SUCCESS;
        }
        if (dwError != ERROR_NOT_SAME_DEVICE) return dwError;
        // Another volume (or a system that cannot move an open file): copy.
    }
    HANDLE hSource = nullptr;
    const DWORD dwError = Source(&hSource);
    if (dwError != ERROR_SUCCESS) return dwError;
    // Replacing the held file by itself: it holds these bytes already, and
    // some systems replace no file that is open, even one shared for deletion.
    if (bReplace && !m_file && IsFileAt(hSource, pszFullPath)) return ERROR_SUCCESS;
    const DWORD dwCopied = CopyTo(hSource, pszFullPath, bReplace, cb);
    // A store's file copied elsewhere has been saved: it leaves the store
    // once closed, and is read from until then.
    if (dwCopied == ERROR_SUCCESS && m_file && !m_bRemoveOnClose)
        m_bRemoveOnClose = MarkForDeletion(m_file.get(), true) == ERROR_SUCCESS;
    return dwCopied;
}

bool SpoolFile::LetGoIfAt(const wchar_t* pszFullPath) {
    if (!m_saved || !IsFileAt(m_saved.get(), pszFullPath)) return false;
    m_saved.reset();
    return true;
}

void DeleteSpoolFiles(ModuleBlock& files, std::uint32_t nFiles) {
    SpoolFile** ppFiles = files.as<SpoolFile*>();
    for (std::uint32_t i = 0; ppFiles && i < nFiles; ++i) ModuleDelete(ppFiles[i]);
    files.reset();
}
