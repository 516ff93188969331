// A time as HTTP writes it (RFC 7231's IMF-fixdate), for Upload-Expires:
// "Wed, 25 Jun 2014 16:00:00 GMT".
#pragma once
#include <cstddef>
#include <cstdint>

namespace resumable {

constexpr std::size_t kcchHttpDate = 29;

// The last second the form's four-digit year spells: 9999-12-31 23:59:59 UTC.
constexpr std::int64_t ktMaxHttpDate = 253402300799;

// Writes the date of tUnix (seconds since 1970-01-01 00:00:00 UTC, leap
// seconds not counted, as every clock here gives them), NUL-terminated.
// False, with an empty string, for a time before 1970 or after
// ktMaxHttpDate.
bool FormatHttpDate(std::int64_t tUnix, char (&szDate)[kcchHttpDate + 1]);

}  // namespace resumable
