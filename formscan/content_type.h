// The boundary a request's Content-Type names (RFC 2046, RFC 7578), so that
// a stream can check the body's first line against it.
#pragma once
#include <cstdint>

#include "formscan/form_parts.h"

namespace formscan {

// Reads a Content-Type value, pb[0] .. pb[cb - 1]. True for a multipart type
// whose first boundary parameter (its name in any case, its value a token or
// a quoted string) is 1 to kcbMaxBoundary printable ASCII bytes not ending
// in a blank: the boundary is then in abBoundary (room for kcbMaxBoundary
// bytes) and its length in *pcbBoundary. False otherwise; the body's first
// line must then say what the boundary is.
bool ContentTypeBoundary(const unsigned char* pb, std::uint32_t cb, unsigned char* abBoundary,
                         std::uint32_t* pcbBoundary);

}  // namespace formscan
