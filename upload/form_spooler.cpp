#include "upload/form_spooler.h"

#include <cstring>
#include <utility>

#include "platform/module_object.h"

FormSpooler::~FormSpooler() { DeleteSpoolFiles(m_files, m_nParts); }

bool FormSpooler::Fail(Stop stop, DWORD dwError) {
    m_stop = stop;
    m_dwError = dwError;
    return false;
}

bool FormSpooler::PartBegins(std::uint32_t iPart, const FormPart& part, const unsigned char*) {
    if (!ReserveItems(m_offsets, &m_nOffsetsCapacity, iPart + 1ull, sizeof(std::uint32_t), 16) ||
        !ReserveItems(m_files, &m_nFilesCapacity, iPart + 1ull, sizeof(SpoolFile*), 16))
        return Fail(Stop::kNoMemory);
    m_offsets.as<std::uint32_t>()[iPart] = m_cbValues;
    m_files.as<SpoolFile*>()[iPart] = nullptr;
    m_nParts = iPart + 1;
    // Any part with a file name is spooled, an untouched file input too: its
    // bytes are never read as text. A file is made for the first byte only.
    m_bFilePart = (part.flags & kPartHasFileName) != 0;
    m_cbPart = 0;
    m_pFile = nullptr;
    return true;
}

bool FormSpooler::PartData(const unsigned char* pb, std::uint32_t cb) {
    m_cbPart += cb;
    if (!m_bFilePart) {
        if (m_limits.cbMaxField && m_cbPart > m_limits.cbMaxField) return Fail(Stop::kFieldTooLarge);
        return AppendValue(pb, cb);
    }
    if (m_limits.cbMaxFile && m_cbPart > m_limits.cbMaxFile) return Fail(Stop::kFileTooLarge);
    if (!m_pFile) {
        m_pFile = ModuleNew<SpoolFile>();
        if (!m_pFile) return Fail(Stop::kNoMemory);
        m_files.as<SpoolFile*>()[m_nParts - 1] = m_pFile;
        const DWORD dwError = m_pFile->Create(m_pszTempFolder);
        if (dwError != ERROR_SUCCESS) return Fail(Stop::kTempFileCreate, dwError);
    }
    const DWORD dwError = m_pFile->Append(pb, cb);
    return dwError == ERROR_SUCCESS || Fail(Stop::kTempFileWrite, dwError);
}

bool FormSpooler::AppendValue(const unsigned char* pb, std::uint32_t cb) {
    if (!ReserveItems(m_values, &m_cbValuesCapacity, static_cast<std::uint64_t>(m_cbValues) + cb, 1, 16))
        return Fail(Stop::kNoMemory);
    std::memcpy(m_values.as<unsigned char>() + m_cbValues, pb, cb);
    m_cbValues += cb;
    return true;
}

bool FormSpooler::PartEnds() { return true; }

// The body was a form with no field after all: its one begun part goes,
// and its temporary file with it.
void FormSpooler::PartDropped() {
    DeleteSpoolFiles(m_files, m_nParts);
    m_nParts = m_nFilesCapacity = 0;
    m_cbValues = 0;
    m_pFile = nullptr;
}

void FormSpooler::HandOver(FormParts& parts, ModuleBlock* pValues, ModuleBlock* pFiles) {
    for (std::uint32_t i = 0; i < parts.Count(); ++i) parts.SetValueOffset(i, m_offsets.as<std::uint32_t>()[i]);
    *pValues = std::move(m_values);
    *pFiles = std::move(m_files);
    m_nParts = 0;
}
