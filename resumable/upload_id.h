// An upload's id: it names the upload's files in the store's folder and
// stands in its URL's query string. It is 16 bytes from a cryptographic
// random source (the caller's) written as 32 lower case hex digits: free of
// case, because the store's file system compares names without it (base64url
// ids differing only in case would name one file), and free of anything a
// URL, a file name or a page's script would change or read as syntax.
#pragma once
#include <cstddef>

namespace resumable {

constexpr std::size_t kcbUploadIdRandom = 16;
constexpr std::size_t kcchUploadId = 2 * kcbUploadIdRandom;

// The id of the random bytes given, NUL-terminated.
void MakeUploadId(const unsigned char (&abRandom)[kcbUploadIdRandom], char (&szId)[kcchUploadId + 1]);

// True for exactly kcchUploadId characters '0'-'9' and 'a'-'f': an id from
// a request is taken only in the spelling MakeUploadId gives, so that it
// can never be a path (no '.', '/', '\\', ':'), another file's name in
// another case, or an id with a NUL inside.
bool UploadIdValid(const char* pchId, std::size_t cchId);
bool UploadIdValid(const char16_t* pchId, std::size_t cchId);

}  // namespace resumable
