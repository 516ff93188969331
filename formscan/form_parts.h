// FormParts: an index of every field and file of a multipart/form-data body
// held in memory, for VARO.Upload, which lists them all.
#pragma once
#include <cstdint>

#include "platform/module_heap.h"

enum class PartsResult {
    kOk,
    kNotMultipart,    // the body does not begin with a delimiter line ("--" + boundary + CRLF)
    kBadLineEndings,  // a delimiter or header line ends in a bare LF
    kBadHeaders,      // a part's headers do not end in a blank line (CRLF CRLF), or a header line has no ':'
    kNoClosingLine,   // no closing delimiter ("--" + boundary + "--")
    kTooManyParts,    // more parts than the limit
    kNoMemory,
    // Only a PartStream gives these:
    kStopped,      // its sink refused to go on
    kLineTooLong,  // a first line, header block or transport padding longer than kcbMaxStreamHeld
    kTooLarge,     // a part's value of 4 GiB or more
    kBoundaryMismatch,  // the first line is not the delimiter of the boundary the stream was told
};

enum : std::uint32_t {
    kPartHasFileName = 1,   // a filename or filename* parameter was present (even empty)
    kPartFileNameUtf8 = 2,  // the file name's text bytes are UTF-8 (decoded from filename*=UTF-8''...), not the page's code page
};

// One part. Header-derived texts live in the index's own text store (so that
// quoted-string escapes can be undone); the value stays in the body.
struct FormPart {
    std::uint32_t nameOffset, nameLength;                // name parameter, unescaped, in Text()
    std::uint32_t fileNameOffset, fileNameLength;        // filename* (decoded) if present and decodable, else filename, unescaped, in Text()
    std::uint32_t contentTypeOffset, contentTypeLength;  // Content-Type header value, blanks trimmed, in Text(); empty when absent
    std::uint32_t valueOffset, valueLength;              // the content, in the body
    std::uint32_t flags;                                 // kPartHasFileName | kPartFileNameUtf8
};

// Longest boundary: RFC 2046 allows 70 bytes; some clients send longer ones.
constexpr std::uint32_t kcbMaxBoundary = 200;
// Longest delimiter: CR LF "--" and the boundary.
constexpr std::uint32_t kcbMaxDelimiter = 4 + kcbMaxBoundary;

// Every offset at which a body's delimiter (CR LF "--" boundary, from its
// first line) occurs, ascending: found while the body is copied, so that the
// parse need not read the whole body again to find them.
class DelimiterList {
public:
    DelimiterList() = default;
    ~DelimiterList();
    DelimiterList(const DelimiterList&) = delete;
    DelimiterList& operator=(const DelimiterList&) = delete;

    // Copies cb bytes from pbSource to pbDest and records where the
    // delimiter occurs in them. False without memory.
    bool CopyAndFind(unsigned char* pbDest, const unsigned char* pbSource, std::uint32_t cb);
    // Whether the list was made for this delimiter.
    bool IsFor(const unsigned char* abDelimiter, std::uint32_t cbDelimiter) const;
    // The first occurrence at or after lFrom, or kByteSearchNone.
    std::uint32_t Next(std::uint32_t lFrom) const;

private:
    unsigned char m_abDelimiter[kcbMaxDelimiter];
    std::uint32_t m_cbDelimiter = 0;
    ModuleBlock m_positions;
    std::uint32_t m_nPositions = 0, m_nCapacity = 0;
};

class FormParts {
public:
    FormParts() = default;
    ~FormParts();  // frees through ModuleFree
    // So a caller can parse into a fresh index and swap it in only on success.
    FormParts(FormParts&& other);
    FormParts& operator=(FormParts&& other);
    FormParts(const FormParts&) = delete;
    FormParts& operator=(const FormParts&) = delete;

    // Indexes the body (it is not copied; the caller keeps it alive and
    // unchanged while it reads values). nMaxParts 0 = no limit. On any result
    // but kOk the index is left empty and holds no memory. pDelimiters, when
    // given, holds where the body's delimiter occurs (CopyAndFind of this
    // body); the result is the same as without it.
    PartsResult Parse(const unsigned char* pbBody, std::uint32_t cbBody, std::uint32_t nMaxParts,
                      const DelimiterList* pDelimiters = nullptr);

    std::uint32_t Count() const { return m_nParts; }
    const FormPart& Part(std::uint32_t i) const { return m_parts.as<FormPart>()[i]; }
    const unsigned char* Text() const { return m_text.as<unsigned char>(); }  // the text store
    std::uint32_t TextSize() const { return m_cbText; }                       // bytes used in the text store
    // For an index whose values are held elsewhere (a stream's): where part
    // i's value stands in its holder.
    void SetValueOffset(std::uint32_t i, std::uint32_t offset) { m_parts.as<FormPart>()[i].valueOffset = offset; }

private:
    friend class PartsBuilder;
    void Clear();

    ModuleBlock m_parts;  // FormPart[m_nPartsCapacity]
    ModuleBlock m_text;   // m_cbTextCapacity bytes
    std::uint32_t m_nParts = 0, m_nPartsCapacity = 0;
    std::uint32_t m_cbText = 0, m_cbTextCapacity = 0;
};
