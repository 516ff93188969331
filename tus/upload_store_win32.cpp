#include "tus/upload_store.h"

#include <cstring>
#include <utility>

#include "tus/store_random.h"

using resumable::StoreResult;
using resumable::UploadRecord;

namespace {

constexpr UINT kcchName = resumable::kcchUploadId + 4;  // "<id>.bin"
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsSeparator(wchar_t ch) { return ch == L'\\' || ch == L'/'; }

bool DiskFull(DWORD dwError) { return dwError == ERROR_DISK_FULL || dwError == ERROR_HANDLE_DISK_FULL; }

// A record being replaced or read by another worker is held for a moment;
// a few tries ride over it.
template <class Attempt>
DWORD Retried(Attempt attempt) {
    DWORD dwError = ERROR_SUCCESS;
    for (int i = 0; i < 50; ++i) {
        dwError = attempt();
        if (dwError != ERROR_SHARING_VIOLATION && dwError != ERROR_ACCESS_DENIED && dwError != ERROR_LOCK_VIOLATION)
            break;
        Sleep(i < 5 ? 0 : 10);
    }
    return dwError;
}

// The id of a store file's name ("<id>.rec" or "<id>.bin"), or false.
bool IdOfName(const wchar_t* pszName, const wchar_t* pszExtension, char (&szId)[resumable::kcchUploadId + 1]) {
    if (lstrlenW(pszName) != static_cast<int>(kcchName) || lstrcmpW(pszName + resumable::kcchUploadId, pszExtension) != 0)
        return false;
    if (!resumable::UploadIdValid(reinterpret_cast<const char16_t*>(pszName), resumable::kcchUploadId)) return false;
    for (UINT i = 0; i < resumable::kcchUploadId; ++i) szId[i] = static_cast<char>(pszName[i]);
    szId[resumable::kcchUploadId] = '\0';
    return true;
}

std::int64_t UnixSeconds(const FILETIME& ft) {
    const std::uint64_t n = (std::uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
    return static_cast<std::int64_t>(n / 10000000u) - 11644473600ll;
}

}  // namespace

DWORD TakeStoreLock(HANDLE hBin) {
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(kStoreLockOffset);
    ov.OffsetHigh = static_cast<DWORD>(kStoreLockOffset >> 32);
    if (LockFileEx(hBin, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov)) return ERROR_SUCCESS;
    const DWORD dwError = GetLastError();
    // Some file systems answer a held lock with ERROR_IO_PENDING-free codes
    // of their own; each means another writer has it.
    return dwError == ERROR_IO_PENDING ? ERROR_LOCK_VIOLATION : dwError;
}

bool FileStore::SetFolder(const wchar_t* pchFolder, UINT cchFolder) {
    Close();
    while (cchFolder > 0 && IsSeparator(pchFolder[cchFolder - 1])) --cchFolder;
    // Two rooms for paths: MoveFileExW takes two at once.
    ModuleBlock path(ModuleAlloc(2 * (cchFolder + 1 + kcchName + 1) * sizeof(wchar_t)));
    if (!path) return false;
    for (int iRoom = 0; iRoom < 2; ++iRoom) {
        wchar_t* psz = path.as<wchar_t>() + iRoom * (cchFolder + 1 + kcchName + 1);
        std::memcpy(psz, pchFolder, cchFolder * sizeof(wchar_t));
        psz[cchFolder] = L'\\';
        psz[cchFolder + 1] = L'\0';
    }
    m_path = std::move(path);
    m_cchFolder = cchFolder;
    return true;
}

const wchar_t* FileStore::PathOf(const char* pszId, const wchar_t* pszExtension, int iRoom) {
    wchar_t* psz = m_path.as<wchar_t>() + (iRoom ? m_cchFolder + 1 + kcchName + 1 : 0);
    wchar_t* pch = psz + m_cchFolder + 1;
    for (UINT i = 0; i < resumable::kcchUploadId; ++i) pch[i] = static_cast<wchar_t>(pszId[i]);
    lstrcpyW(pch + resumable::kcchUploadId, pszExtension);
    return psz;
}

StoreResult FileStore::Failed(DWORD dwError) {
    m_dwError = dwError;
    if (dwError == ERROR_FILE_NOT_FOUND || dwError == ERROR_PATH_NOT_FOUND) return StoreResult::kNotFound;
    // A lock, or the file taken over by a page that holds it against writing.
    if (dwError == ERROR_LOCK_VIOLATION || dwError == ERROR_SHARING_VIOLATION) return StoreResult::kLocked;
    if (DiskFull(dwError)) return StoreResult::kDiskFull;
    return StoreResult::kFailed;
}

StoreResult FileStore::ReadRecord(const char* pszId, UploadRecord* pRec) {
    const wchar_t* pszPath = PathOf(pszId, L".rec");
    UniqueFileHandle rec;
    const DWORD dwOpen = Retried([&] {
        rec.reset(CreateFileW(pszPath, GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        return rec ? ERROR_SUCCESS : GetLastError();
    });
    if (dwOpen != ERROR_SUCCESS) return Failed(dwOpen);
    // One byte more than a record can be tells a file that is none.
    DWORD cbRead = 0, cb = 0;
    while (cbRead < sizeof m_abRecord) {
        if (!ReadFile(rec.get(), m_abRecord + cbRead, sizeof m_abRecord - cbRead, &cb, nullptr)) return Failed(GetLastError());
        if (cb == 0) break;
        cbRead += cb;
    }
    unsigned char abMore[1];
    if (cbRead == sizeof m_abRecord && ReadFile(rec.get(), abMore, 1, &cb, nullptr) && cb) return StoreResult::kNotFound;
    // A record that is not whole, not this format's, or another upload's
    // (copied or renamed by hand) names no upload here.
    if (resumable::ReadUploadRecord(m_abRecord, cbRead, pRec) != resumable::RecordStatus::kOk ||
        std::memcmp(pRec->szId, pszId, resumable::kcchUploadId) != 0)
        return StoreResult::kNotFound;
    return StoreResult::kOk;
}

StoreResult FileStore::Read(const char* pszId, UploadRecord* pRec) {
    if (!m_path) return StoreResult::kFailed;
    const StoreResult read = ReadRecord(pszId, pRec);
    if (read == StoreResult::kOk && GetFileAttributesW(PathOf(pszId, L".bin")) == INVALID_FILE_ATTRIBUTES &&
        GetLastError() == ERROR_FILE_NOT_FOUND) {
        ForgetClaimed(pszId);
        return StoreResult::kNotFound;
    }
    return read;
}

void FileStore::ForgetClaimed(const char* pszId) {
    // Bytes are made before their record and removed after it: a record
    // without them is of an upload a page saved elsewhere.
    if (GetFileAttributesW(PathOf(pszId, L".bin")) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND)
        DeleteFileW(PathOf(pszId, L".rec"));
}

StoreResult FileStore::Create(UploadRecord* pRec) {
    if (!m_path) return StoreResult::kFailed;
    Close();
    // A name already taken is another draw's, however unlikely.
    for (int i = 0; i < 4; ++i) {
        unsigned char abRandom[resumable::kcbUploadIdRandom];
        const DWORD dwRandom = StoreRandom(abRandom, sizeof abRandom);
        if (dwRandom != ERROR_SUCCESS) return Failed(dwRandom);
        resumable::MakeUploadId(abRandom, pRec->szId);
        SecureZeroMemory(abRandom, sizeof abRandom);
        m_bin.reset(CreateFileW(PathOf(pRec->szId, L".bin"), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (m_bin) break;
        const DWORD dwError = GetLastError();
        if (dwError != ERROR_FILE_EXISTS && dwError != ERROR_ALREADY_EXISTS) return Failed(dwError);
    }
    if (!m_bin) return Failed(ERROR_FILE_EXISTS);
    std::memcpy(m_szOpen, pRec->szId, sizeof m_szOpen);
    const DWORD dwLock = TakeStoreLock(m_bin.get());
    StoreResult result = dwLock == ERROR_SUCCESS ? Keep(*pRec) : Failed(dwLock);
    if (result != StoreResult::kOk) {
        // Nothing is left of an upload whose record could not be written.
        DeleteFileW(PathOf(m_szOpen, L".tmp"));
        DeleteFileW(PathOf(m_szOpen, L".bin"));
        m_bin.reset();
        m_szOpen[0] = '\0';
        if (result == StoreResult::kLocked || result == StoreResult::kNotFound) result = StoreResult::kFailed;
    }
    return result;
}

StoreResult FileStore::Open(const char* pszId, UploadRecord* pRec) {
    if (!m_path) return StoreResult::kFailed;
    Close();
    UniqueFileHandle bin(CreateFileW(PathOf(pszId, L".bin"), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!bin) {
        const DWORD dwError = GetLastError();
        // Removed a moment ago (its name waits for the last handle to go),
        // or never there.
        if (dwError == ERROR_ACCESS_DENIED && GetFileAttributesW(PathOf(pszId, L".rec")) == INVALID_FILE_ATTRIBUTES)
            return StoreResult::kNotFound;
        if (dwError == ERROR_FILE_NOT_FOUND) ForgetClaimed(pszId);
        return Failed(dwError);
    }
    const DWORD dwLock = TakeStoreLock(bin.get());
    if (dwLock != ERROR_SUCCESS) return Failed(dwLock);
    // Read under the lock: it is the last writer's record.
    const StoreResult read = ReadRecord(pszId, pRec);
    if (read != StoreResult::kOk) return read;
    // Bytes past the offset (a chunk whose digest did not match, a write a
    // killed worker left) count for nothing; they go, so that a finished
    // upload's file is exactly its length.
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(bin.get(), &size)) return Failed(GetLastError());
    if (static_cast<std::uint64_t>(size.QuadPart) > pRec->cbOffset) {
        LARGE_INTEGER end{};
        end.QuadPart = static_cast<LONGLONG>(pRec->cbOffset);
        if (!SetFilePointerEx(bin.get(), end, nullptr, FILE_BEGIN) || !SetEndOfFile(bin.get()))
            return Failed(GetLastError());
    }
    m_bin = std::move(bin);
    std::memcpy(m_szOpen, pszId, resumable::kcchUploadId);
    m_szOpen[resumable::kcchUploadId] = '\0';
    return StoreResult::kOk;
}

StoreResult FileStore::Write(std::uint64_t cbOffset, const unsigned char* pb, std::uint32_t cb) {
    if (!m_bin) return StoreResult::kFailed;
    while (cb > 0) {
        OVERLAPPED ov{};
        ov.Offset = static_cast<DWORD>(cbOffset);
        ov.OffsetHigh = static_cast<DWORD>(cbOffset >> 32);
        DWORD cbWritten = 0;
        if (!WriteFile(m_bin.get(), pb, cb, &cbWritten, &ov)) return Failed(GetLastError());
        if (cbWritten == 0) return Failed(ERROR_WRITE_FAULT);
        pb += cbWritten;
        cb -= cbWritten;
        cbOffset += cbWritten;
    }
    return StoreResult::kOk;
}

StoreResult FileStore::Keep(const UploadRecord& rec) {
    if (!m_bin || std::memcmp(rec.szId, m_szOpen, resumable::kcchUploadId) != 0) return StoreResult::kFailed;
    // The bytes first: a record never counts bytes the file might lose.
    if (!FlushFileBuffers(m_bin.get())) return Failed(GetLastError());
    // rec's text may point into m_abRecord (a record read and kept again):
    // the new one is written into a room of its own.
    const std::size_t cbRecord = resumable::WriteUploadRecord(rec, m_abWritten, sizeof m_abWritten);
    if (!cbRecord) return StoreResult::kFailed;
    const wchar_t* pszTmp = PathOf(m_szOpen, L".tmp");
    {
        UniqueFileHandle tmp(CreateFileW(pszTmp, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!tmp) return Failed(GetLastError());
        DWORD cbWritten = 0;
        const BOOL bWritten = WriteFile(tmp.get(), m_abWritten, static_cast<DWORD>(cbRecord), &cbWritten, nullptr) &&
                              cbWritten == cbRecord && FlushFileBuffers(tmp.get());
        if (!bWritten) {
            const DWORD dwError = cbWritten == cbRecord || GetLastError() != ERROR_SUCCESS ? GetLastError()
                                                                                            : ERROR_WRITE_FAULT;
            tmp.reset();
            DeleteFileW(pszTmp);
            return Failed(dwError);
        }
    }
    const wchar_t* pszTarget = PathOf(m_szOpen, L".rec", 1);
    const DWORD dwMoved = Retried([&] {
        return MoveFileExW(pszTmp, pszTarget, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
                   ? ERROR_SUCCESS
                   : GetLastError();
    });
    if (dwMoved != ERROR_SUCCESS) {
        DeleteFileW(pszTmp);
        return Failed(dwMoved);
    }
    return StoreResult::kOk;
}

StoreResult FileStore::Remove() {
    if (!m_bin) return StoreResult::kFailed;
    // The record first: from then on no request finds the upload.
    const DWORD dwRec = Retried([&] {
        return DeleteFileW(PathOf(m_szOpen, L".rec")) || GetLastError() == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS
                                                                                               : GetLastError();
    });
    if (dwRec != ERROR_SUCCESS) return Failed(dwRec);
    DeleteFileW(PathOf(m_szOpen, L".tmp"));
    // The bytes' name goes when the last handle, this one, closes.
    if (!DeleteFileW(PathOf(m_szOpen, L".bin")) && GetLastError() != ERROR_FILE_NOT_FOUND) m_dwError = GetLastError();
    return StoreResult::kOk;
}

void FileStore::Close() {
    // Closing the handle releases its lock.
    m_bin.reset();
    m_szOpen[0] = '\0';
}

long FileStore::Sweep(std::int64_t tNow, std::int64_t secondsKept) {
    if (!m_path) return 0;
    Close();
    long nRemoved = 0;
    for (const wchar_t* pszExtension : {L".rec", L".bin"}) {
        wchar_t* psz = m_path.as<wchar_t>();
        lstrcpyW(psz + m_cchFolder + 1, pszExtension[1] == L'r' ? L"*.rec" : L"*.bin");
        WIN32_FIND_DATAW found;
        UniqueFindHandle find(FindFirstFileExW(psz, FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
        if (!find) continue;
        do {
            char szId[resumable::kcchUploadId + 1];
            if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !IdOfName(found.cFileName, pszExtension, szId))
                continue;
            UploadRecord rec;
            if (pszExtension[1] == L'r') {
                if (ReadRecord(szId, &rec) != StoreResult::kOk || rec.tExpires == 0 || tNow < rec.tExpires) continue;
                // Under the lock, with the record read again; a locked one is
                // some request's at work.
                if (Open(szId, &rec) == StoreResult::kOk && rec.tExpires != 0 && tNow >= rec.tExpires &&
                    Remove() == StoreResult::kOk)
                    ++nRemoved;
                Close();
            } else {
                // Bytes without a record: a creation cut short. Left alone
                // while young or locked, for its record may yet come.
                if (GetFileAttributesW(PathOf(szId, L".rec")) != INVALID_FILE_ATTRIBUTES) continue;
                if (secondsKept <= 0 || tNow - UnixSeconds(found.ftLastWriteTime) < secondsKept) continue;
                UniqueFileHandle bin(CreateFileW(PathOf(szId, L".bin"), GENERIC_READ | GENERIC_WRITE, kShareAll,
                                                 nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
                if (!bin || TakeStoreLock(bin.get()) != ERROR_SUCCESS) continue;
                if (GetFileAttributesW(PathOf(szId, L".rec")) == INVALID_FILE_ATTRIBUTES) {
                    DeleteFileW(PathOf(szId, L".tmp"));
                    DeleteFileW(PathOf(szId, L".bin"));
                }
            }
            // PathOf wrote over the pattern; FindNextFileW needs only the handle.
        } while (FindNextFileW(find.get(), &found));
    }
    return nRemoved;
}
