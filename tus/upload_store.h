// The uploads of one store folder, as files every worker and every server
// sharing the folder reads alike: "<id>.bin" the bytes, "<id>.rec" the
// record (resumable/upload_record.h), replaced whole through "<id>.tmp".
// The write lock is a byte-range lock on the bytes' file, far past any
// offset data reaches: unlike share modes it is seen by every process of
// every machine that opens the file (over SMB too), and the system drops it
// when the process holding it dies.
#pragma once
#include <windows.h>

#include <cstdint>

#include "platform/module_heap.h"
#include "platform/win32_owners.h"
#include "resumable/tus_exchange.h"

class FileStore final : public resumable::UploadStore {
public:
    FileStore() = default;
    ~FileStore() { Close(); }
    FileStore(const FileStore&) = delete;
    FileStore& operator=(const FileStore&) = delete;

    // The folder, with or without a trailing separator; false without memory.
    bool SetFolder(const wchar_t* pchFolder, UINT cchFolder);

    resumable::StoreResult Read(const char* pszId, resumable::UploadRecord* pRec) override;
    resumable::StoreResult Create(resumable::UploadRecord* pRec) override;
    resumable::StoreResult Open(const char* pszId, resumable::UploadRecord* pRec) override;
    resumable::StoreResult Write(std::uint64_t cbOffset, const unsigned char* pb, std::uint32_t cb) override;
    resumable::StoreResult Keep(const resumable::UploadRecord& rec) override;
    resumable::StoreResult Remove() override;
    void Close() override;

    // The full path of an upload's file of that extension (".bin", ".rec",
    // ".tmp"), in room 0 or 1, valid until the room's next use.
    const wchar_t* PathOf(const char* pszId, const wchar_t* pszExtension, int iRoom = 0);

    // Removes the expired uploads nobody writes, and bytes' files left
    // without a record for longer than secondsKept; gives how many uploads
    // went.
    long Sweep(std::int64_t tNow, std::int64_t secondsKept);

    // The system's code of the last failure, for messages.
    DWORD LastError() const { return m_dwError; }

private:
    resumable::StoreResult ReadRecord(const char* pszId, resumable::UploadRecord* pRec);
    resumable::StoreResult Failed(DWORD dwError);
    void ForgetClaimed(const char* pszId);

    ModuleBlock m_path;  // the folder, a separator, an id and its extension
    UINT m_cchFolder = 0;
    UniqueFileHandle m_bin;  // the open upload's bytes, locked
    char m_szOpen[resumable::kcchUploadId + 1] = {};
    DWORD m_dwError = 0;
    unsigned char m_abRecord[resumable::kcbMaxUploadRecord];   // the last record read
    unsigned char m_abWritten[resumable::kcbMaxUploadRecord];  // the next one written
};

// The locked byte: past kcbMaxUpload (2^53), so it never covers data.
constexpr std::uint64_t kStoreLockOffset = std::uint64_t{1} << 62;

// Takes the write lock of an open bytes' file; ERROR_SUCCESS or the system's
// code (ERROR_LOCK_VIOLATION when another writer holds it).
DWORD TakeStoreLock(HANDLE hBin);
