// Helpers of the FormParts tests: what an index lists, in plain strings.
#pragma once
#include "formscan/form_parts.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

struct SeenPart {
    std::string name, fileName, contentType, value;
    std::uint32_t flags = 0;
    bool operator==(const SeenPart& o) const {
        return name == o.name && fileName == o.fileName && contentType == o.contentType && value == o.value &&
               flags == o.flags;
    }
};

inline std::ostream& operator<<(std::ostream& out, const SeenPart& p) {
    auto show = [&](const std::string& s) {
        out << '"';
        for (unsigned char ch : s) {
            if (ch >= 0x20 && ch < 0x7F && ch != '"' && ch != '\\') out << static_cast<char>(ch);
            else out << "\\x" << "0123456789ABCDEF"[ch >> 4] << "0123456789ABCDEF"[ch & 15];
        }
        out << '"';
    };
    out << "{name ";
    show(p.name);
    out << ", file ";
    show(p.fileName);
    out << ", type ";
    show(p.contentType);
    out << ", value ";
    if (p.value.size() > 200) out << p.value.size() << " bytes";
    else show(p.value);
    return out << ", flags " << p.flags << "}";
}

// A part's texts (from the text store at pbText) and flags; no value.
inline SeenPart Texts(const FormPart& p, const unsigned char* pbText) {
    const char* pText = reinterpret_cast<const char*>(pbText);
    SeenPart s;
    s.name.assign(pText + p.nameOffset, p.nameLength);
    s.fileName.assign(pText + p.fileNameOffset, p.fileNameLength);
    s.contentType.assign(pText + p.contentTypeOffset, p.contentTypeLength);
    s.flags = p.flags;
    return s;
}

inline std::vector<SeenPart> Listing(const FormParts& parts, const unsigned char* pbBody) {
    std::vector<SeenPart> seen;
    for (std::uint32_t i = 0; i < parts.Count(); ++i) {
        const FormPart& p = parts.Part(i);
        SeenPart s = Texts(p, parts.Text());
        s.value.assign(reinterpret_cast<const char*>(pbBody) + p.valueOffset, p.valueLength);
        seen.push_back(s);
    }
    return seen;
}
