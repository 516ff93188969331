// A load's progress, kept under the page's ProgressID for other requests to
// read (progress/): the writer fed from the read loop, a sink in front of the
// chain that names each file as it starts and counts it as it ends, and the
// record's end taken from the load's own result, so that a refusal reads
// with the words the page's script got.
#pragma once
#include <windows.h>

#include <cstdint>

#include "formscan/part_stream.h"
#include "progress/progress_writer.h"

class UploadProgress {
public:
    // pszId null or empty: nothing is kept, and every call is a test.
    explicit UploadProgress(const wchar_t* pszId) : m_pszId(pszId && pszId[0] ? pszId : nullptr) {}
    UploadProgress(const UploadProgress&) = delete;
    UploadProgress& operator=(const UploadProgress&) = delete;

    // Once the body's length is known (0: not known).
    void Start(std::uint64_t cbTotal);
    void Advance(std::uint64_t cb) { m_writer.Advance(cb); }
    void FileStarted(const wchar_t* pchField, std::size_t cchField, const wchar_t* pchFile, std::size_t cchFile) {
        m_writer.FileStarted(pchField, cchField, pchFile, cchFile);
    }
    void FileDone() { m_writer.FileDone(); }
    // Records how the load ended and gives hr back. A failure's message is
    // the thread's error information, which stays the caller's. A load that
    // never started, or ended short of done before its body's first byte,
    // leaves no record (progress_writer.h).
    HRESULT End(HRESULT hr);

private:
    const wchar_t* m_pszId;
    bool m_bStarted = false;
    ProgressWriter m_writer;
};

// Passes every call on to pNext; tells pProgress of each file part.
class ProgressSink final : public PartSink {
public:
    ProgressSink(PartSink* pNext, UploadProgress* pProgress, UINT uCodePage)
        : m_pNext(pNext), m_pProgress(pProgress), m_uCodePage(uCodePage) {}
    ProgressSink(const ProgressSink&) = delete;
    ProgressSink& operator=(const ProgressSink&) = delete;

    bool PartBegins(std::uint32_t iPart, const FormPart& part, const unsigned char* pbText) override;
    bool PartData(const unsigned char* pb, std::uint32_t cb) override { return m_pNext->PartData(pb, cb); }
    bool PartEnds() override;
    void PartDropped() override { m_pNext->PartDropped(); }

private:
    PartSink* m_pNext;
    UploadProgress* m_pProgress;
    UINT m_uCodePage;
    bool m_bFile = false;
};
