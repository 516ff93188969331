// A file a store holds (the bytes of a finished resumable upload), handed
// to a page as an UploadedFile, as a form's file is: it stays in the store
// until SaveAs or SaveUnique moves it to the page's path (same volume: one
// rename; another volume: a copy, after which it leaves the store once the
// object is gone), held against writing all the while.
#pragma once
#include <windows.h>

#include <cstdint>

#include "platform/win32_owners.h"
#include "uploadedfile/uploaded_file_source.h"

// Takes over the file at pszPath, or file when given (open on that path
// with GENERIC_READ and DELETE access, WRITE_DAC too, sharing no writes;
// closed with the source, or here on a failure). The file must hold cbSize
// bytes (ERROR_INVALID_DATA otherwise: a store's record promised them).
// pszFileName is the client's file name (control characters become U+FFFD),
// pszContentType its type; null for none. Its field name is "".
// *ppSource holds one reference: make the file object from item 0 of it
// (PFNCREATEFILEOBJECT), then release it. ERROR_SUCCESS or why not
// (save_file.h's own codes for a path naming a device or a stream).
DWORD TakeOverStoreFile(const wchar_t* pszPath, UniqueFileHandle&& file, const wchar_t* pszFileName,
                        const wchar_t* pszContentType, std::uint64_t cbSize, UploadedFileSource** ppSource);
