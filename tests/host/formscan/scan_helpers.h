// Helpers shared by the scanner's tests: exact-size body copies (so a read at
// or beyond the body's end is caught by ASan) and scan runners.
#pragma once
#include "formscan/form_scan.h"
#include "formscan/form_scan_impl.h"
#include "testing/plain_search.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

// The body in a heap block of exactly its own size.
class ExactBody {
public:
    explicit ExactBody(const std::string& text)
        : m_cb(static_cast<std::int32_t>(text.size())), m_pb(new unsigned char[text.size() ? text.size() : 1]) {
        if (!text.empty()) std::memcpy(m_pb.get(), text.data(), text.size());
    }
    const unsigned char* data() const { return m_cb ? m_pb.get() : nullptr; }
    std::int32_t size() const { return m_cb; }
    std::string Slice(const FormScan& scan, std::int32_t i) const {
        return std::string(reinterpret_cast<const char*>(scan.pValueStart[i]),
                           static_cast<std::size_t>(scan.lValueLength[i]));
    }
    std::int32_t OffsetOf(const unsigned char* pb) const { return static_cast<std::int32_t>(pb - m_pb.get()); }

private:
    std::int32_t m_cb;
    std::unique_ptr<unsigned char[]> m_pb;
};

// CR LF from "\n" in a literal, for readable bodies.
inline std::string Crlf(const std::string& text) {
    std::string out;
    for (char ch : text) {
        if (ch == '\n') out += '\r';
        out += ch;
    }
    return out;
}

inline std::unique_ptr<FormScan> NewRecord() {
    std::unique_ptr<FormScan> p(new FormScan);
    std::memset(p.get(), 0xAB, sizeof *p);  // the scan must clear it
    return p;
}

// Builders of browser-style parts with boundary AaB03x.
inline std::string TextPart(const std::string& name, const std::string& value, const std::string& delim = "--AaB03x") {
    return delim + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
}
inline std::string FilePart(const std::string& name, const std::string& filename, const std::string& type,
                            const std::string& content, const std::string& delim = "--AaB03x") {
    return delim + "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" + filename +
           "\"\r\nContent-Type: " + type + "\r\n\r\n" + content + "\r\n";
}
inline const std::string kClose = "--AaB03x--\r\n";
