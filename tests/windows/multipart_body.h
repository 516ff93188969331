// multipart/form-data bodies shaped as a browser sends them, for the tests.
#pragma once
#include <string>
#include <vector>

inline constexpr char kBoundary[] = "----WebKitFormBoundaryVaro7Ff3";

inline std::string TextPart(const std::string& name, const std::string& value) {
    return std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
           "\r\n";
}

inline std::string FilePart(const std::string& name, const std::string& filename, const std::string& content,
                            const std::string& type = "application/octet-stream") {
    return std::string("--") + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" +
           filename + "\"\r\nContent-Type: " + type + "\r\n\r\n" + content + "\r\n";
}

// The parts, then the closing line.
inline std::string Body(const std::vector<std::string>& parts) {
    std::string body;
    for (const std::string& part : parts) body += part;
    return body + "--" + kBoundary + "--\r\n";
}
