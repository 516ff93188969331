// What the progress tests under Wine share: ids of their own, the writer
// and reader called with wide strings, and the child processes' entry.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "progress/progress_id.h"
#include "progress/progress_reader.h"
#include "progress/progress_writer.h"

// An id that no other test, and no other run of this program, uses.
inline std::wstring TestId(const wchar_t* pszWhat) {
    static int s_nSerial = 0;
    return std::wstring(pszWhat) + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++s_nSerial);
}

inline std::u16string Utf16(const std::wstring& str) { return std::u16string(str.begin(), str.end()); }

inline std::wstring SectionName(const std::wstring& strId) {
    char16_t szName[kcchProgressSectionName];
    ProgressSectionName(Utf16(strId).c_str(), strId.size(), szName);
    return std::wstring(szName, szName + std::char_traits<char16_t>::length(szName));
}

inline ProgressWriter::Status Begin(ProgressWriter& writer, const std::wstring& strId, std::uint64_t cbTotal) {
    return writer.Begin(strId.data(), strId.size(), cbTotal);
}

inline ProgressReadStatus Read(const std::wstring& strId, ProgressReport* pReport) {
    return ReadProgress(strId.data(), strId.size(), pReport);
}

inline std::wstring Text(const char16_t* psz) {
    return std::wstring(psz, psz + std::char_traits<char16_t>::length(psz));
}

// The writer as the shared workload drives it.
struct SectionWriter {
    ProgressWriter& writer;
    void FileStarted(const std::u16string& strField, const std::u16string& strFile) {
        writer.FileStarted(reinterpret_cast<const wchar_t*>(strField.c_str()), strField.size(),
                           reinterpret_cast<const wchar_t*>(strFile.c_str()), strFile.size());
    }
    void Advance(std::uint64_t cb) { writer.Advance(cb); }
    void FileDone() { writer.FileDone(); }
};

// The program started again as a writer or a reader of another test's id
// (progress_concurrency_test.cpp); returns its exit code.
int RunProgressChild(int argc, char** argv);
