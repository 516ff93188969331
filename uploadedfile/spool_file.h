// An uploaded file's bytes on disk while its owner lives: a temporary file
// only this process can open, which the system removes when it is closed
// (also when the process ends without closing it), or a store's file taken
// over, which stays where it is until it is saved - or, once SaveAs has
// moved either, the saved file, which is then the page's: it is held open
// against writing while the owner lives, so that what the file object
// answers (Bytes, Hash, a later SaveAs) are the uploaded bytes, whatever is
// done at that path.
#pragma once
#include <windows.h>

#include <cstdint>

#include "platform/module_heap.h"
#include "platform/win32_owners.h"
#include "uploadedfile/leftovers.h"
#include "uploadedfile/save_file.h"

class SpoolFile {
public:
    SpoolFile() = default;
    SpoolFile(const SpoolFile&) = delete;
    SpoolFile& operator=(const SpoolFile&) = delete;

    // A new temporary file in the folder (a full path, with or without its
    // trailing separator). ERROR_SUCCESS or the system's error code.
    DWORD Create(const wchar_t* pszFolder);
    // Takes over a store's file open as file (GENERIC_READ and DELETE
    // access, WRITE_DAC too for it to take a new folder's rights, sharing no
    // writes) at the full path pszFullPath. Until saved it stays there; once
    // copied to another volume it goes when closed, as a save moves it.
    void Adopt(UniqueFileHandle&& file, ModuleBlock&& fullPath);
    DWORD Append(const unsigned char* pb, DWORD cb);
    // The first cb bytes into pb.
    DWORD Read(unsigned char* pb, std::uint64_t cb) const;
    // The first cb bytes into a new file at pszFullPath (SaveTargetPath's),
    // never replacing one: the file is moved there when the system can (same
    // volume) and then takes the folder's access rights, otherwise copied
    // through a file beside it; a copy that fails leaves no file behind, and
    // a failure leaves the file held where it was.
    // With bReplace a file at pszFullPath is replaced in one step: the bytes
    // go beside it first, so a failure leaves it whole.
    DWORD SaveTo(const wchar_t* pszFullPath, std::uint64_t cb, bool bReplace = false);
    // The first cb bytes in pieces to pfnPiece(pvContext, pb, cb), which gives
    // ERROR_SUCCESS or the error that ends the reading.
    DWORD ReadPieces(std::uint64_t cb, DWORD (*pfnPiece)(void*, const unsigned char*, DWORD), void* pvContext) const;
    // Lets go of the saved file when it is the one at pszFullPath (a save
    // of the same form is to replace it, which some systems refuse while it
    // is open); true when it was. Reads then refuse, as for a file changed.
    bool LetGoIfAt(const wchar_t* pszFullPath);

private:
    // Where the bytes are read from now: the temporary file, or the saved
    // file held; kErrorSavedFileChanged when neither.
    DWORD Source(HANDLE* phSource) const;
    // Moves the held file to pszFullPath (never replacing a file there)
    // and gives it the folder's access rights; ERROR_NOT_SAME_DEVICE when it
    // has to be copied instead.
    DWORD MoveTo(const wchar_t* pszFullPath);
    DWORD MoveInPlaceOf(const wchar_t* pszFullPath);
    // After a move: the saved file held open for reading, denying writes;
    // none when what is at the path is no longer the file moved there.
    void HoldSaved(const wchar_t* pszFullPath);

    UniqueFileHandle m_file;   // the temporary or store's file, until it is moved
    UniqueFileHandle m_saved;  // the saved file, once it was moved
    ModuleBlock m_tempPath;    // wchar_t[]: the file's first path, to move it back
    bool m_bRemoveOnClose = false;  // m_file is marked to go when closed
};

// A held file saved at a page's path: the path made full (SaveTargetPath),
// the leftovers beside it swept, then saveOnce(pszFullPath). With bReplace,
// a refusal because a file of the same owner is held there (letGoAt(path)
// says whether it was, and lets go of it) is tried once more.
template <class SaveOnce, class LetGoAt>
DWORD SaveAtPagePath(const wchar_t* pszPath, bool bReplace, SaveOnce saveOnce, LetGoAt letGoAt) {
    ModuleBlock full;
    const DWORD dwError = SaveTargetPath(pszPath, &full);
    if (dwError != ERROR_SUCCESS) return dwError;
    const wchar_t* pszFull = full.as<wchar_t>();
    SweepLeftoversBeside(pszFull);
    const DWORD dwSaved = saveOnce(pszFull);
    // A file saved there before is held open, which some systems keep from
    // being replaced: the page replaces it, so it is let go.
    if (bReplace && (dwSaved == ERROR_ACCESS_DENIED || dwSaved == ERROR_SHARING_VIOLATION) && letGoAt(pszFull))
        return saveOnce(pszFull);
    return dwSaved;
}

// Deletes the first nFiles entries of an array of SpoolFile* (null entries
// allowed), closing and so removing their temporary files, and frees it.
void DeleteSpoolFiles(ModuleBlock& files, std::uint32_t nFiles);
