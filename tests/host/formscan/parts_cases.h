// The FormParts tests' table of small bodies, one or more for each rule,
// and the captured browser bodies: read by form_parts_test.cpp against
// the listings expected, and by part_stream_test.cpp against FormParts.
#pragma once
#include "formscan/form_parts.h"

#include "tests/host/formscan/parts_helpers.h"
#include "tests/host/formscan/scan_helpers.h"

#include <cstdint>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#ifndef VARO_FORMSCAN_FIXTURES
#error "VARO_FORMSCAN_FIXTURES must name tests/fixtures/formscan"
#endif

namespace parts_test {

using Parts = std::vector<SeenPart>;
inline constexpr std::uint32_t kFile = kPartHasFileName;
inline constexpr std::uint32_t kUtf8File = kPartHasFileName | kPartFileNameUtf8;

inline SeenPart Field(const std::string& name, const std::string& value) { return SeenPart{name, "", "", value, 0}; }
inline SeenPart Upload(const std::string& name, const std::string& file, const std::string& type,
                       const std::string& value, std::uint32_t flags = kFile) {
    return SeenPart{name, file, type, value, flags};
}

// A part with the given Content-Disposition parameters (after "form-data").
inline std::string Disposed(const std::string& params, const std::string& value, const std::string& more = "") {
    return "--AaB03x\r\nContent-Disposition: form-data" + params + "\r\n" + more + "\r\n" + value + "\r\n";
}

struct Case {
    const char* what;
    std::string body;
    std::uint32_t nMax;
    PartsResult result;
    Parts parts;
};

// Test names, not the bytes, in gtest's messages.
inline void PrintTo(const Case& c, std::ostream* pOut) { *pOut << c.what; }

inline const std::string kLongName(100000, 'n');
inline const std::string kBoundary200(200, 'b');
inline const std::string kBoundary201(201, 'b');

// A form whose boundary is the given one: fields a = 1 and b = 2.
inline std::string TwoFields(const std::string& boundary) {
    return TextPart("a", "1", "--" + boundary) + TextPart("b", "2", "--" + boundary) + "--" + boundary + "--\r\n";
}

inline const Case kPartsCases[] = {
    // Delimiter lines.
    {"two fields", TextPart("a", "1") + TextPart("b", "") + kClose, 0, PartsResult::kOk, {Field("a", "1"), Field("b", "")}},
    {"value keeps its own CR LF", TextPart("a", "x\r\n") + kClose, 0, PartsResult::kOk, {Field("a", "x\r\n")}},
    {"lookalike not after CR LF", TextPart("a", "x--AaB03x\r\ny--AaB03x--") + kClose, 0, PartsResult::kOk,
     {Field("a", "x--AaB03x\r\ny--AaB03x--")}},
    {"lookalike of a longer boundary", TextPart("a", "x\r\n--AaB03xY\r\n\r\n--AaB03x \tz") + kClose, 0,
     PartsResult::kOk, {Field("a", "x\r\n--AaB03xY\r\n\r\n--AaB03x \tz")}},
    {"transport padding", "--AaB03x \t\r\n" + Disposed("; name=a", "1").substr(10) + "--AaB03x\t \r\n" +
                              Disposed("; name=b", "2").substr(10) + "--AaB03x--  \r\n",
     0, PartsResult::kOk, {Field("a", "1"), Field("b", "2")}},
    {"epilogue ignored", TextPart("a", "1") + "--AaB03x--junk\r\n--AaB03x\r\nno headers\n", 0, PartsResult::kOk,
     {Field("a", "1")}},
    {"closing line without CR LF", TextPart("a", "1") + "--AaB03x--", 0, PartsResult::kOk, {Field("a", "1")}},
    {"only the closing line", kClose, 0, PartsResult::kOk, {}},
    {"only the closing line, no CR LF", "--AaB03x--", 0, PartsResult::kOk, {}},
    {"boundary of 200 bytes", TextPart("a", "1", "--" + kBoundary200) + "--" + kBoundary200 + "--", 0,
     PartsResult::kOk, {Field("a", "1")}},
    {"boundary of one byte", TextPart("a", "1", "--x") + "--x--", 0, PartsResult::kOk, {Field("a", "1")}},
    {"boundary of 201 bytes", TextPart("a", "1", "--" + kBoundary201) + "--" + kBoundary201 + "--", 0,
     PartsResult::kNotMultipart, {}},
    {"empty body", "", 0, PartsResult::kNotMultipart, {}},
    {"no delimiter", "hello", 0, PartsResult::kNotMultipart, {}},
    {"empty boundary", "--\r\n\r\n\r\n--\r\n", 0, PartsResult::kNotMultipart, {}},
    {"first line without line end", "--AaB03x", 0, PartsResult::kNotMultipart, {}},
    {"preamble", "preamble\r\n" + TextPart("a", "1") + kClose, 0, PartsResult::kNotMultipart, {}},
    {"bare LF after the first delimiter", "--AaB03x\nContent-Disposition: form-data; name=a\r\n\r\n1\r\n" + kClose,
     0, PartsResult::kBadLineEndings, {}},
    {"bare LF after a later delimiter", TextPart("a", "1") + "--AaB03x\n" + kClose, 0, PartsResult::kBadLineEndings,
     {}},
    {"bare LF after padding", TextPart("a", "1") + "--AaB03x  \n" + kClose, 0, PartsResult::kBadLineEndings, {}},
    {"bare LF ends a header line", "--AaB03x\r\nContent-Disposition: form-data; name=a\n\r\n1\r\n" + kClose, 0,
     PartsResult::kBadLineEndings, {}},
    {"bare LF as the blank line", "--AaB03x\r\nContent-Disposition: form-data; name=a\r\n\n1\r\n" + kClose, 0,
     PartsResult::kBadLineEndings, {}},
    {"LF-only body", "--AaB03x\nContent-Disposition: form-data; name=a\n\n1\n--AaB03x--\n", 0,
     PartsResult::kBadLineEndings, {}},
    {"no closing line", TextPart("a", "1") + TextPart("b", "2"), 0, PartsResult::kNoClosingLine, {}},
    {"cut inside a value", TextPart("a", "1") + "--AaB03x\r\nContent-Disposition: form-data; name=b\r\n\r\n12", 0,
     PartsResult::kNoClosingLine, {}},
    {"cut after a delimiter", TextPart("a", "1") + "--AaB03x", 0, PartsResult::kNoClosingLine, {}},
    // A first line ending in "--" is the first delimiter of a boundary that
    // ends in "--" when a later line is that delimiter again, and the closing
    // line of a form with no field when none is.
    {"boundary ending in dashes", TwoFields("ab--"), 0, PartsResult::kOk, {Field("a", "1"), Field("b", "2")}},
    {"boundary with leading and trailing dashes", TwoFields("--x--"), 0, PartsResult::kOk,
     {Field("a", "1"), Field("b", "2")}},
    {"boundary of dashes only", TwoFields("---"), 0, PartsResult::kOk, {Field("a", "1"), Field("b", "2")}},
    {"boundary with doubled dashes at its end", TwoFields("a--b----"), 0, PartsResult::kOk,
     {Field("a", "1"), Field("b", "2")}},
    {"boundary ending in dashes, padded first line", "--ab-- \t\r\n" + TwoFields("ab--").substr(8), 0,
     PartsResult::kOk, {Field("a", "1"), Field("b", "2")}},
    {"boundary of 200 bytes ending in dashes", TwoFields(kBoundary200.substr(2) + "--"), 0, PartsResult::kOk,
     {Field("a", "1"), Field("b", "2")}},
    {"lookalikes before the delimiter of a boundary ending in dashes",
     "--ab--\r\n" + TextPart("a", "\r\n--ab-\r\n--ab--x\r\n--ab-\r", "").substr(2) + "--ab----", 0,
     PartsResult::kOk, {Field("a", "\r\n--ab-\r\n--ab--x\r\n--ab-\r")}},
    {"empty form, boundary ending in dashes", "--ab----\r\n", 0, PartsResult::kOk, {}},
    {"empty form, first line alone", "--ab--\r\n", 0, PartsResult::kOk, {}},
    {"empty form, leading dashes", "----x--\r\n", 0, PartsResult::kOk, {}},
    {"empty form, one-byte boundary of a dash", "-----\r\n", 0, PartsResult::kOk, {}},
    {"empty form, text that never repeats the first line", "--ab--\r\nepilogue\r\n--ab\r\n--ab-\r\n--ab--", 0,
     PartsResult::kOk, {}},
    {"empty form, later lines that only begin like the first line",
     "--ab--\r\nContent-Disposition: form-data; name=a\r\n\r\n1\r\n--ab--x\r\n--ab---\r\n--ab-- x\r\n", 0,
     PartsResult::kOk, {}},
    {"empty form, the first line again right after it", "--ab--\r\n--ab----\r\n", 0, PartsResult::kOk, {}},
    {"empty form, parts of the shorter boundary after it",
     "--ab--\r\n" + TextPart("a", "1", "--ab") + TextPart("b", "2", "--ab"), 0, PartsResult::kOk, {}},
    {"a closed form of the shorter boundary after it", "--ab--\r\n" + TwoFields("ab"), 0, PartsResult::kBadHeaders,
     {}},
    {"empty form, first line with a bare LF", "--ab--\n" + TwoFields("ab--"), 0, PartsResult::kOk, {}},
    {"empty form, first line too long to be a delimiter", "--" + kBoundary200 + "--\r\n" + TwoFields(kBoundary200 + "--"),
     0, PartsResult::kOk, {}},
    {"empty form under a limit", "--ab--\r\n", 1, PartsResult::kOk, {}},
    {"boundary ending in dashes, over the limit", TwoFields("ab--"), 1, PartsResult::kTooManyParts, {}},
    {"boundary ending in dashes, bad header", "--ab--\r\nbroken\r\n\r\nv\r\n--ab----\r\n", 0,
     PartsResult::kBadHeaders, {}},
    {"boundary ending in dashes, bare LF after a later delimiter", "--ab--\r\n" + TextPart("a", "1", "").substr(2) +
                                                                       "--ab--\n",
     0, PartsResult::kBadLineEndings, {}},
    {"boundary ending in dashes, no closing line", TextPart("a", "1", "--ab--") + TextPart("b", "2", "--ab--"), 0,
     PartsResult::kNoClosingLine, {}},
    // Header blocks.
    {"no blank line", "--AaB03x\r\nContent-Disposition: form-data; name=a\r\n" + kClose, 0, PartsResult::kBadHeaders,
     {}},
    {"header line without a colon", "--AaB03x\r\nContent-Disposition: form-data; name=a\r\nbroken\r\n\r\n1\r\n" + kClose,
     0, PartsResult::kBadHeaders, {}},
    {"two delimiter lines in a row", "--AaB03x\r\n--AaB03x\r\n" + TextPart("a", "1").substr(10) + kClose, 0,
     PartsResult::kBadHeaders, {}},
    {"folded line with nothing before it", "--AaB03x\r\n name=a\r\n\r\n1\r\n" + kClose, 0, PartsResult::kBadHeaders,
     {}},
    {"no headers at all", "--AaB03x\r\n\r\nv\r\n" + kClose, 0, PartsResult::kOk, {Field("", "v")}},
    {"folded headers", "--AaB03x\r\nContent-Disposition: form-data;\r\n\tname=\"a\r\n b\";\r\n filename=f\r\n"
                       "Content-Type:\r\n text/plain\r\n\r\nv\r\n" + kClose,
     0, PartsResult::kOk, {Upload("a b", "f", "text/plain", "v")}},
    {"names and parameters in any case", "--AaB03x\r\nCONTENT-TYPE :  Text/Plain; charset=UTF-8 \t\r\n"
                                         "content-disposition: Form-Data; NAME=\"a\"; FileName=\"f\"\r\n\r\nv\r\n" +
                                             kClose,
     0, PartsResult::kOk, {Upload("a", "f", "Text/Plain; charset=UTF-8", "v")}},
    {"first of each header", Disposed("; name=a", "v", "Content-Type: x/1\r\nContent-Disposition: form-data; "
                                                       "name=b\r\nContent-Type: x/2\r\nX-Other: y\r\n") +
         kClose,
     0, PartsResult::kOk, {SeenPart{"a", "", "x/1", "v", 0}}},
    // Content-Disposition parameters.
    {"escaped quote and ';' inside quotes", Disposed("; name=\"a\\\"b;c\"", "1") + kClose, 0, PartsResult::kOk,
     {Field("a\"b;c", "1")}},
    {"escaped backslash", Disposed("; name=\"a\\\\b\"", "1") + kClose, 0, PartsResult::kOk, {Field("a\\b", "1")}},
    {"Windows path kept", Disposed("; name=f; filename=\"C:\\dir\\x.txt\"", "1") + kClose, 0, PartsResult::kOk,
     {Upload("f", "C:\\dir\\x.txt", "", "1")}},
    {"Shift_JIS 0x5C before the closing quote", Disposed("; name=\"\x95\x5C\"", "1") +
                                                   Disposed("; name=\"\x95\x5C\"; filename=\"\x95\x5C\"", "2") +
                                                   Disposed("; name=\"\x95\x5C\x95\x5C\" ; filename=\"\"", "3") + kClose,
     0, PartsResult::kOk,
     {Field("\x95\x5C", "1"), Upload("\x95\x5C", "\x95\x5C", "", "2"), Upload("\x95\x5C\x95\x5C", "", "", "3")}},
    {"unterminated quote runs to the end", Disposed("; filename=x; name=\"ab ", "1") + kClose, 0, PartsResult::kOk,
     {Upload("ab ", "x", "", "1")}},
    {"tokens and blanks", Disposed(" ;name = a b ;  filename= x y.txt ;junk; =z", "1") + kClose, 0,
     PartsResult::kOk, {Upload("a b", "x y.txt", "", "1")}},
    {"first of each parameter", Disposed("; name=a; name=b; filename=c; filename=d", "1") + kClose, 0,
     PartsResult::kOk, {Upload("a", "c", "", "1")}},
    {"empty and missing names", Disposed("; name=\"\"", "1") + Disposed("", "2") + Disposed("; name=", "3") +
                                    TextPart("x", "4").replace(10, 20, "X-Header:") + kClose,
     0, PartsResult::kOk, {Field("", "1"), Field("", "2"), Field("", "3"), Field("", "4")}},
    {"empty file name", Disposed("; name=e; filename=\"\"", "", "Content-Type: application/octet-stream\r\n") + kClose,
     0, PartsResult::kOk, {Upload("e", "", "application/octet-stream", "")}},
    {"very long name", Disposed("; name=\"" + kLongName + "\"", "1") + kClose, 0, PartsResult::kOk,
     {Field(kLongName, "1")}},
    // filename* (RFC 5987).
    {"filename* preferred, before or after filename",
     Disposed("; name=a; filename=\"a.txt\"; filename*=UTF-8''%E2%82%AC%20x.txt", "1") +
         Disposed("; name=b; filename*=utf-8'en'%c3%a9; filename=b.txt", "2") + kClose,
     0, PartsResult::kOk, {Upload("a", "\xE2\x82\xAC x.txt", "", "1", kUtf8File), Upload("b", "\xC3\xA9", "", "2", kUtf8File)}},
    {"filename* alone, quoted", Disposed("; name=a; filename*=\"UTF-8''%E6%97%A5.txt\"", "1") + kClose, 0,
     PartsResult::kOk, {Upload("a", "\xE6\x97\xA5.txt", "", "1", kUtf8File)}},
    {"filename* in another charset falls back", Disposed("; name=a; filename*=ISO-8859-1''%A3.txt; filename=b.txt", "1") +
                                                    Disposed("; name=c; filename*=ISO-8859-1''%A3.txt", "2") + kClose,
     0, PartsResult::kOk, {Upload("a", "b.txt", "", "1"), Upload("c", "ISO-8859-1''%A3.txt", "", "2")}},
    {"malformed filename* falls back",
     Disposed("; name=a; filename*=UTF-8''%G1; filename=b.txt", "1") + Disposed("; name=c; filename*=UTF-8''%4", "2") +
         Disposed("; name=d; filename*=UTF-8'x", "3") + Disposed("; name=e; filename*=UTF-8''%FF; filename=f", "4") +
         Disposed("; name=g; filename*=UTF-8''%C0%AF", "5") + Disposed("; name=h; filename*=UTF-8''%ED%A0%80", "6") +
         kClose,
     0, PartsResult::kOk,
     {Upload("a", "b.txt", "", "1"), Upload("c", "UTF-8''%4", "", "2"), Upload("d", "UTF-8'x", "", "3"),
      Upload("e", "f", "", "4"), Upload("g", "UTF-8''%C0%AF", "", "5"), Upload("h", "UTF-8''%ED%A0%80", "", "6")}},
    // The part limit counts the parts seen.
    {"parts at the limit", TextPart("a", "1") + TextPart("b", "2") + kClose, 2, PartsResult::kOk,
     {Field("a", "1"), Field("b", "2")}},
    {"one part over the limit", TextPart("a", "1") + TextPart("b", "2") + kClose, 1, PartsResult::kTooManyParts, {}},
    {"zero parts under a limit", kClose, 1, PartsResult::kOk, {}},
};

// A body captured from a browser (tests/fixtures/requests), or a file sent.
inline std::string Request(const std::string& file) {
    std::ifstream in(std::string(VARO_FORMSCAN_FIXTURES) + "/../requests/" + file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

}  // namespace parts_test
