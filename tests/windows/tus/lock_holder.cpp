// Another worker holding an upload's write lock: takes the byte-range lock
// on the bytes' file named first, creates the file named second to say so,
// and waits to be killed.
#include <windows.h>

#include <cstdint>

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) return 2;
    HANDLE h = CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 3;
    constexpr std::uint64_t kLockOffset = std::uint64_t{1} << 62;
    OVERLAPPED ov{};
    ov.Offset = static_cast<DWORD>(kLockOffset);
    ov.OffsetHigh = static_cast<DWORD>(kLockOffset >> 32);
    if (!LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov)) return 4;
    CloseHandle(CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    Sleep(INFINITE);
    return 0;
}
