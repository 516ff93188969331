#include "host_files.h"
#include "text_codec.h"

namespace {

// Moves up to cb bytes in calls of at most 1 MiB (a DWORD holds no more than
// 4 GiB); stops when a call fails or moves nothing, the end of the input.
template <typename Char, typename Call>
size_t MoveUpTo(Char* pch, size_t cb, Call call) {
    size_t cbDone = 0;
    while (cbDone < cb) {
        const size_t cbLeft = cb - cbDone;
        DWORD cbChunk = cbLeft > (1u << 20) ? (1u << 20) : static_cast<DWORD>(cbLeft);
        DWORD cbMoved = 0;
        if (!call(pch + cbDone, cbChunk, &cbMoved) || cbMoved == 0) break;
        cbDone += cbMoved;
    }
    return cbDone;
}

}  // namespace

size_t ReadUpTo(HANDLE h, char* pch, size_t cb) {
    return MoveUpTo(pch, cb, [h](char* p, DWORD n, DWORD* pcb) { return ReadFile(h, p, n, pcb, nullptr); });
}

bool ReadExact(HANDLE h, char* pch, size_t cb) { return ReadUpTo(h, pch, cb) == cb; }

bool WriteAll(HANDLE h, const char* pch, size_t cb) {
    return MoveUpTo(pch, cb, [h](const char* p, DWORD n, DWORD* pcb) { return WriteFile(h, p, n, pcb, nullptr); }) ==
           cb;
}

bool ReadWholeFile(const wchar_t* pszPath, std::vector<BYTE>& bytes) {
    UniqueFileHandle file(CreateFileW(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD cbHigh = 0;
    DWORD cb = GetFileSize(file.get(), &cbHigh);
    if (cb == INVALID_FILE_SIZE || cbHigh) return false;
    bytes.resize(cb);
    return ReadExact(file.get(), reinterpret_cast<char*>(bytes.data()), cb);
}

bool WriteWholeFile(const wchar_t* pszPath, const std::string& bytes) {
    UniqueFileHandle file(
        CreateFileW(pszPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && WriteAll(file.get(), bytes.data(), bytes.size());
}

void Report(const std::wstring& text) {
    std::string bytes = Utf8(text + L"\n");
    DWORD cbWritten = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()), &cbWritten, nullptr);
}
