// Browser-style multipart bodies for the scanner's benchmarks (host and
// Wine): Chrome's boundary shape, random file bytes, printable field text.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace formscan_bench {

// xorshift64*: fast, fixed seed, so every run scans the same bytes.
class Random {
public:
    explicit Random(std::uint64_t seed) : m_state(seed ? seed : 1) {}
    std::uint64_t Next() {
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return m_state * 2685821657736338717ULL;
    }
    void Fill(unsigned char* pb, std::size_t cb) {
        std::size_t i = 0;
        for (; i + 8 <= cb; i += 8) {
            std::uint64_t v = Next();
            for (int k = 0; k < 8; ++k) pb[i + k] = static_cast<unsigned char>(v >> (8 * k));
        }
        for (std::uint64_t v = Next(); i < cb; ++i, v >>= 8) pb[i] = static_cast<unsigned char>(v);
    }
    std::string Text(std::size_t cb) {
        static const char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,";
        std::string s(cb, ' ');
        for (char& ch : s) ch = kChars[Next() % (sizeof kChars - 1)];
        return s;
    }

private:
    std::uint64_t m_state;
};

struct BenchBody {
    std::string label;
    std::string boundary;  // the Content-Type boundary parameter
    std::vector<unsigned char> bytes;
    std::string item;      // ASCII item name
    std::u16string itemWide;
    ScanMode mode = ScanMode::kAllParts;
    std::int32_t expected;  // ScanForm's result
};

class BodyWriter {
public:
    BodyWriter(Random& rng, BenchBody& body) : m_rng(rng), m_body(body) {
        m_body.boundary = "----WebKitFormBoundary";
        static const char kAlnum[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        for (int i = 0; i < 16; ++i) m_body.boundary += kAlnum[m_rng.Next() % (sizeof kAlnum - 1)];
    }
    void Append(const std::string& s) { m_body.bytes.insert(m_body.bytes.end(), s.begin(), s.end()); }
    void TextPart(const std::string& name, const std::string& value) {
        Append("--" + m_body.boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value +
               "\r\n");
    }
    void FilePart(const std::string& name, const std::string& filename, std::size_t cbContent) {
        Append("--" + m_body.boundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"; filename=\"" +
               filename + "\"\r\nContent-Type: application/octet-stream\r\n\r\n");
        const std::size_t at = m_body.bytes.size();
        m_body.bytes.resize(at + cbContent);
        m_rng.Fill(m_body.bytes.data() + at, cbContent);
        Append("\r\n");
    }
    void Close() { Append("--" + m_body.boundary + "--\r\n"); }

private:
    Random& m_rng;
    BenchBody& m_body;
};

inline void SetItem(BenchBody& body, const std::string& item) {
    body.item = item;
    body.itemWide.assign(item.begin(), item.end());
}

// A text field placed after a file part of cbFile random bytes.
inline BenchBody FieldAfterFile(std::size_t cbFile) {
    Random rng(1);
    BenchBody body;
    body.label = "field after a " + std::to_string(cbFile >> 20) + " MB file";
    BodyWriter w(rng, body);
    w.TextPart("title", "Holiday photos");
    w.FilePart("upload", "C:\\Users\\me\\Videos\\holiday.mp4", cbFile);
    w.TextPart("comment", rng.Text(200));
    w.Close();
    SetItem(body, "comment");
    body.mode = ScanMode::kTextOnly;
    body.expected = 1;
    return body;
}

// One field sent 3000 times (about 1 MB).
inline BenchBody RepeatedField() {
    Random rng(2);
    BenchBody body;
    body.label = "one field 3000 times, 1 MB";
    BodyWriter w(rng, body);
    for (int i = 0; i < 3000; ++i) w.TextPart("tag", rng.Text(200 + rng.Next() % 50));
    w.Close();
    SetItem(body, "tag");
    body.mode = ScanMode::kTextOnly;
    body.expected = 3000;
    return body;
}

// 10,000 distinct small fields (about 10 MB); the scan asks for the last.
inline BenchBody DistinctFields() {
    Random rng(3);
    BenchBody body;
    body.label = "10,000 distinct fields, 10 MB";
    BodyWriter w(rng, body);
    for (int i = 0; i < 10000; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "field%05d", i);
        w.TextPart(name, rng.Text(900 + rng.Next() % 100));
    }
    w.Close();
    SetItem(body, "field09999");
    body.mode = ScanMode::kTextOnly;
    body.expected = 1;
    return body;
}

}  // namespace formscan_bench
