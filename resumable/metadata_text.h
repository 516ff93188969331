// A metadata value as a page sees it: its bytes read as UTF-8 into UTF-16.
// A value is whatever the client put there, so nothing in it is trusted:
// each ill-formed sequence becomes U+FFFD, one for each maximal subpart (the
// Unicode Standard's recommended practice, section 3.9), and so does each
// control character (U+0000-U+001F, U+007F), as in the file names
// VARO.Upload shows: a NUL above all could hide the end of a name from
// whoever reads it only up to the NUL, a line break could split a log line.
#pragma once
#include <cstddef>

namespace resumable {

// Writes the text of pb[0] .. pb[cb - 1] to pchText, at most cchCapacity
// units of it, and returns the units of the whole text, which are never
// more than cb: a buffer of cb units always holds it. pchText may be null
// (with cchCapacity 0) to ask for the length alone. Nothing is terminated.
std::size_t DecodeMetadataText(const unsigned char* pb, std::size_t cb, char16_t* pchText, std::size_t cchCapacity);

}  // namespace resumable
