// FormParts against busboy (node, bench/formscan/busboy_listing.js) on the
// captured browser bodies and on generated browser-style ones: both list the
// same parts, names, file names, types and values. Skips when node or busboy
// is not installed (scripts/setup installs both).
//
// Listed differently on purpose, so left out: busboy reads a backslash
// before the closing quote as an escape and drops a Shift_JIS name ending in
// 0x5C (tests/fixtures/requests/*-sjis.bin; form_parts_test.cpp covers them),
// and it reports filename="" as a file without a name ("?" below), as it does
// a part of type application/octet-stream without a file name. Field values
// are compared as bytes, so no generated text part declares a charset.
#include "formscan/form_parts.h"

#include <gtest/gtest.h>

#include "formscan/form_scan.h"
#include "bench/formscan/bench_bodies.h"
#include "tests/host/formscan/parts_helpers.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#ifndef VARO_BUSBOY_DIR
#error "VARO_BUSBOY_DIR must name bench/formscan"
#endif
#ifndef VARO_FORMSCAN_FIXTURES
#error "VARO_FORMSCAN_FIXTURES must name tests/fixtures/formscan"
#endif

namespace {

std::string Hex(const std::string& s) {
    if (s.empty()) return ".";
    std::string out;
    for (unsigned char ch : s) {
        out += "0123456789abcdef"[ch >> 4];
        out += "0123456789abcdef"[ch & 15];
    }
    return out;
}

// busboy's media type: the type without parameters, lower case; text/plain
// when the part has none.
std::string MediaType(const std::string& contentType) {
    std::string type = contentType.substr(0, contentType.find(';'));
    while (!type.empty() && (type.back() == ' ' || type.back() == '\t')) type.pop_back();
    for (char& ch : type) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return type.empty() ? "text/plain" : type;
}

std::vector<std::string> OurListing(const std::string& body) {
    FormParts parts;
    const auto* pb = reinterpret_cast<const unsigned char*>(body.data());
    const PartsResult result = parts.Parse(pb, static_cast<std::uint32_t>(body.size()), 0);
    std::vector<std::string> lines;
    for (const SeenPart& p : Listing(parts, pb)) {
        const bool bFile = (p.flags & kPartHasFileName) || MediaType(p.contentType) == "application/octet-stream";
        lines.push_back(std::string("part ") + (bFile ? "file " : "field ") + Hex(p.name) + " " +
                        (!bFile ? "-" : p.fileName.empty() ? "?" : Hex(p.fileName)) + " " + MediaType(p.contentType) +
                        " " + Hex(p.value));
    }
    lines.push_back(result == PartsResult::kOk ? "end ok" : "end error");
    return lines;
}

// busboy's listings of the bodies, one list per body; empty when busboy
// cannot run here.
std::vector<std::vector<std::string>> BusboyListings(const std::vector<std::string>& bodies) {
    std::vector<std::vector<std::string>> listings;
    const std::string dir = VARO_BUSBOY_DIR;
    if (access((dir + "/node_modules/busboy/package.json").c_str(), R_OK) != 0 ||
        std::system("node --version >/dev/null 2>&1") != 0)
        return listings;
    char tmp[] = "/tmp/parts-busboy-XXXXXX";
    if (!mkdtemp(tmp)) return listings;
    std::string command = "node '" + dir + "/busboy_listing.js'";
    std::vector<std::string> files;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        files.push_back(std::string(tmp) + "/" + std::to_string(i) + ".bin");
        std::ofstream(files.back(), std::ios::binary) << bodies[i];
        command += " '" + files.back() + "'";
    }
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buf[65536];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, pipe)) > 0;) output.append(buf, n);
        pclose(pipe);
    }
    for (const std::string& file : files) unlink(file.c_str());
    rmdir(tmp);
    std::istringstream in(output);
    std::vector<std::string> current;
    for (std::string line; std::getline(in, line);) {
        current.push_back(line);
        if (line.rfind("end ", 0) == 0) {
            listings.push_back(current);
            current.clear();
        }
    }
    return listings;
}

std::string Request(const std::string& file) {
    std::ifstream in(std::string(VARO_FORMSCAN_FIXTURES) + "/../requests/" + file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// Every other body's boundary has dashes where they make the first line
// hard to read: after Chrome's leading ones, at the end (the first line then
// also reads as a closing line), doubled inside, or dashes alone.
std::string DashedBoundary(formscan_bench::Random& shape, const std::string& chrome) {
    const std::string tail = chrome.substr(chrome.find_first_not_of('-') + 18, 1 + shape.Next() % 16);
    switch (shape.Next() % 6) {
    case 0: return chrome + "--";
    case 1: return tail + "--";
    case 2: return "--" + tail + "----";
    case 3: return tail.substr(0, 1) + "--" + tail + "---";
    case 4: return "-" + tail + "--" + tail + "--";
    default: return std::string(3 + shape.Next() % 6, '-');
    }
}

// Browser-style bodies: Chrome's boundary and boundaries with dashes, names
// with blanks, ';' and bytes past ASCII, values of every byte with CR LF,
// "--" lines and lookalikes of the delimiter, files with and without a
// type, filename*.
std::vector<std::string> GeneratedBodies(int nBodies) {
    std::vector<std::string> bodies;
    formscan_bench::Random rng(7), shape(11);
    static const char* const kTypes[] = {"text/plain", "image/png", "application/octet-stream", "Text/HTML; format=flowed"};
    static const char* const kUtf8Names[] = {"%E2%82%AC.txt", "%E6%97%A5%E6%9C%AC.pdf", "caf%C3%A9%20%E2%84%96.doc"};
    for (int b = 0; b < nBodies; ++b) {
        formscan_bench::BenchBody body;
        formscan_bench::BodyWriter w(rng, body);
        const bool bDashed = b % 2 == 1;
        if (bDashed) body.boundary = DashedBoundary(shape, body.boundary);
        const std::string delimiter = "--" + body.boundary;
        std::string text;
        const int nParts = 1 + static_cast<int>(rng.Next() % 12);
        for (int i = 0; i < nParts; ++i) {
            std::string name = rng.Text(1 + rng.Next() % 20);
            if (rng.Next() % 4 == 0) name += ";\xE9\xFC x";
            std::string value;
            const int nPieces = static_cast<int>(rng.Next() % 6);
            for (int k = 0; k < nPieces; ++k) {
                switch (rng.Next() % 5) {
                case 0: value += "\r\n"; break;
                case 1: value += "\r\n--\r\n"; break;
                case 2:
                    value += "\r\n" + delimiter.substr(0, delimiter.size() - 1 - rng.Next() % 5);
                    // Not a byte that could finish it: a part's end for busboy.
                    if (bDashed) value += ".";
                    break;
                case 3: value += rng.Text(rng.Next() % 100); break;
                default: {
                    std::string bytes(rng.Next() % 64, '\0');
                    rng.Fill(reinterpret_cast<unsigned char*>(&bytes[0]), bytes.size());
                    value += bytes;
                }
                }
            }
            text += delimiter + "\r\nContent-Disposition: form-data; name=\"" + name + "\"";
            const unsigned kind = rng.Next() % 4;
            if (kind == 1) text += "; filename=\"" + rng.Text(1 + rng.Next() % 12) + ".bin\"";
            if (kind == 2) text += "; filename=\"x.txt\"; filename*=UTF-8''" + std::string(kUtf8Names[rng.Next() % 3]);
            text += "\r\n";
            if (kind != 0 || rng.Next() % 3 == 0) text += std::string("Content-Type: ") + kTypes[rng.Next() % 4] + "\r\n";
            text += "\r\n" + value + "\r\n";
        }
        text += delimiter + "--\r\n";
        bodies.push_back(text);
    }
    return bodies;
}

TEST(PartsAgainstBusboy, CapturedAndGeneratedBodies) {
    std::vector<std::string> bodies = {Request("chromium-form.bin"), Request("firefox-form.bin"),
                                       Request("curl-form.bin")};
    ASSERT_GT(bodies[0].size(), 1000u);
    for (const std::string& body : GeneratedBodies(200)) bodies.push_back(body);
    const auto theirs = BusboyListings(bodies);
    if (theirs.empty()) GTEST_SKIP() << "node or busboy not installed (scripts/setup)";
    ASSERT_EQ(theirs.size(), bodies.size());
    std::size_t nParts = 0, nDashEnded = 0;
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        const std::string firstLine = bodies[i].substr(0, bodies[i].find("\r\n"));
        if (firstLine.size() >= 5 && firstLine.compare(firstLine.size() - 2, 2, "--") == 0) ++nDashEnded;
        const std::vector<std::string> ours = OurListing(bodies[i]);
        ASSERT_EQ(ours.back(), "end ok") << "body " << i;
        EXPECT_EQ(ours.size(), theirs[i].size()) << "body " << i;
        for (std::size_t k = 0; k < ours.size() && k < theirs[i].size(); ++k)
            EXPECT_EQ(ours[k], theirs[i][k]) << "body " << i << ", line " << k;
        nParts += ours.size() - 1;
    }
    EXPECT_GT(nParts, 1000u);
    EXPECT_GE(nDashEnded, 80u) << "first lines that also read as closing lines";
}

}  // namespace
