// Bytes from the system's cryptographic random source (CNG's
// BCryptGenRandom), for upload ids: an id is the only key to an upload, so
// it must not be guessed from others. bcrypt.dll is loaded when first
// needed, as for hashing, so the DLL still loads where CNG is missing.
#pragma once
#include <windows.h>

#include <cstddef>

// ERROR_SUCCESS, or the system's code.
DWORD StoreRandom(unsigned char* pb, std::size_t cb);
