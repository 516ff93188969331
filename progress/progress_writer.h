// One upload's progress under its page's id, written by the thread that
// reads the request: begun before the first piece, fed as pieces and files
// go by, finished with how the load ended. Every call after a Begin that
// did not succeed (or without one) does nothing, so the upload makes the
// same calls whether or not its page named an id.
// A second upload naming an id whose upload is still reading gets kInUse
// and goes on without progress; the record of an ended one is taken over.
// (A process that ended mid-upload leaves its claim: the id stays in use
// until the last handle to its section, another process's kept one, closes.)
#pragma once
#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "platform/win32_owners.h"
#include "progress/progress_id.h"
#include "progress/progress_tracker.h"

class ProgressWriter {
public:
    enum class Status {
        kOk,
        kBadId,   // not 1-64 letters, digits and '-'
        kInUse,   // another upload is reading under this id
        kDenied,  // the id's section belongs to another account
        kFailed,  // the system refused (SystemError() says why)
    };

    ProgressWriter() = default;
    // An upload that never said how it ended is recorded as failed.
    ~ProgressWriter();
    ProgressWriter(const ProgressWriter&) = delete;
    ProgressWriter& operator=(const ProgressWriter&) = delete;

    // Once per writer. cbTotal: the request's length (0: not known).
    Status Begin(const wchar_t* pchId, std::size_t cchId, std::uint64_t cbTotal);
    bool Active() const { return m_tracker.Started() && !m_tracker.Ended(); }
    DWORD SystemError() const { return m_dwError; }

    void Advance(std::uint64_t cb) { m_tracker.Advance(cb); }
    void FileStarted(const wchar_t* pchField, std::size_t cchField, const wchar_t* pchFile, std::size_t cchFile) {
        m_tracker.FileStarted(Utf16(pchField), cchField, Utf16(pchFile), cchFile);
    }
    void FileDone() { m_tracker.FileDone(); }
    // kDone, kRefused or kFailed with the refusal's or failure's message.
    // The end is always published; the record then stays for the retention
    // time (progress_keeper.h), unless the upload ended short of done before
    // any byte of its body was read: then it goes with the writer, so that
    // requests refused at once (an empty body, one over the size limit) cost
    // the process nothing that lasts.
    void Finish(ProgressState state, const wchar_t* pchMessage, std::size_t cchMessage);

private:
    static const char16_t* Utf16(const wchar_t* pch) { return reinterpret_cast<const char16_t*>(pch); }

    UniqueKernelHandle m_section;
    UniqueMappedView m_view;
    ProgressTracker m_tracker;
    DWORD m_dwError = ERROR_SUCCESS;
    char16_t m_szName[kcchProgressSectionName] = {};
};
