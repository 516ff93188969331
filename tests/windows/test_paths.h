// Paths of the source and build trees as a Windows program under Wine sees
// them: drive Z: is the Unix root.
#pragma once
#include <string>

inline std::string WinePath(const std::string& unixPath) {
    std::string s = "Z:" + unixPath;
    for (char& ch : s)
        if (ch == '/') ch = '\\';
    return s;
}
inline std::string SourcePath(const std::string& rel) { return WinePath(std::string(VARO_SOURCE_DIR) + "/" + rel); }
inline std::string BinaryPath(const std::string& rel) { return WinePath(std::string(VARO_BINARY_DIR) + "/" + rel); }
