#include "upload/upload_progress.h"

#include "platform/error_info.h"
#include "platform/multibyte_text.h"
#include "platform/refusal_codes.h"
#include "platform/win32_owners.h"
#include "upload/part_text.h"

namespace {

// Failures the page's own limits or its client caused read as refused; the
// rest (memory, files, the request object) as failed.
bool IsRefusal(HRESULT hr) {
    return (Refusal::IsRefusal(hr) && hr != Refusal::kReadNotBytes) || hr == E_INVALIDARG || hr == E_FAIL;
}

}  // namespace

void UploadProgress::Start(std::uint64_t cbTotal) {
    if (!m_pszId || m_bStarted) return;
    m_bStarted = true;
    // An id in use, or a store the system refuses, costs the page its
    // progress, never its upload.
    m_writer.Begin(m_pszId, lstrlenW(m_pszId), cbTotal);
}

HRESULT UploadProgress::End(HRESULT hr) {
    // A load refused before it started (not a Request, over MaxBytes) has
    // no record to end, and makes none.
    if (!m_bStarted) return hr;
    if (SUCCEEDED(hr)) {
        m_writer.Finish(ProgressState::kDone, nullptr, 0);
        return hr;
    }
    UniqueBstr description(ThreadErrorDescription());
    const wchar_t* pch = description.get();
    m_writer.Finish(IsRefusal(hr) ? ProgressState::kRefused : ProgressState::kFailed, pch,
                    pch ? SysStringLen(description.get()) : 0);
    return hr;
}

bool ProgressSink::PartBegins(std::uint32_t iPart, const FormPart& part, const unsigned char* pbText) {
    m_bFile = IsFilePart(part);
    if (m_bFile) {
        const char* pchText = reinterpret_cast<const char*>(pbText);
        UniqueBstr field(MultiByteToBstr(m_uCodePage, pchText + part.nameOffset, static_cast<int>(part.nameLength)));
        UniqueBstr file(FileNameText(pchText + part.fileNameOffset, part.fileNameLength, part.flags, m_uCodePage));
        // Without memory for the names the file still counts, unnamed.
        m_pProgress->FileStarted(field.get() ? field.get() : L"", field.get() ? SysStringLen(field.get()) : 0,
                                 file.get() ? file.get() : L"", file.get() ? SysStringLen(file.get()) : 0);
    }
    return m_pNext->PartBegins(iPart, part, pbText);
}

// A file counts as done once the sinks after this one have taken it whole.
bool ProgressSink::PartEnds() {
    const bool bTaken = m_pNext->PartEnds();
    if (bTaken && m_bFile) m_pProgress->FileDone();
    m_bFile = false;
    return bTaken;
}
