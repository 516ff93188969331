// Where a streamed form's values go as they arrive: text values into one
// store in memory, each file's bytes into a temporary file of its own, with
// the page's limits checked on every piece so an oversized request is
// refused before it has all been read.
#pragma once
#include <cstdint>

#include "formscan/part_stream.h"
#include "platform/module_heap.h"
#include "uploadedfile/spool_file.h"

struct SpoolLimits {
    std::uint64_t cbMaxFile = 0;   // any one file part's value; 0: none
    std::uint64_t cbMaxField = 0;  // any one text value; 0: none
};

class FormSpooler final : public PartSink {
public:
    enum class Stop { kNone, kFileTooLarge, kFieldTooLarge, kNoMemory, kTempFileCreate, kTempFileWrite };

    FormSpooler(const SpoolLimits& limits, const wchar_t* pszTempFolder)
        : m_limits(limits), m_pszTempFolder(pszTempFolder) {}
    // Closes, and so removes, every temporary file not handed over.
    ~FormSpooler();
    FormSpooler(const FormSpooler&) = delete;
    FormSpooler& operator=(const FormSpooler&) = delete;

    bool PartBegins(std::uint32_t iPart, const FormPart& part, const unsigned char* pbText) override;
    bool PartData(const unsigned char* pb, std::uint32_t cb) override;
    bool PartEnds() override;
    void PartDropped() override;

    // Why the spooler stopped the stream, with the system's error code for
    // the temporary-file failures.
    Stop Stopped() const { return m_stop; }
    DWORD SystemError() const { return m_dwError; }

    // After the stream ended well: points the index's text values into the
    // store, then hands over the store and the files (SpoolFile*[parts],
    // null where a part has no file).
    void HandOver(FormParts& parts, ModuleBlock* pValues, ModuleBlock* pFiles);

private:
    bool Fail(Stop stop, DWORD dwError = ERROR_SUCCESS);
    bool AppendValue(const unsigned char* pb, std::uint32_t cb);

    SpoolLimits m_limits;
    const wchar_t* m_pszTempFolder;
    Stop m_stop = Stop::kNone;
    DWORD m_dwError = ERROR_SUCCESS;

    ModuleBlock m_values;  // the text values, one after another
    std::uint32_t m_cbValues = 0, m_cbValuesCapacity = 0;
    ModuleBlock m_offsets;  // std::uint32_t per part: its value's offset in m_values
    ModuleBlock m_files;    // SpoolFile* per part
    std::uint32_t m_nParts = 0, m_nOffsetsCapacity = 0, m_nFilesCapacity = 0;

    // The part being read.
    bool m_bFilePart = false;
    std::uint64_t m_cbPart = 0;
    SpoolFile* m_pFile = nullptr;
};
