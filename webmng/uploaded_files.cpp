// GetFileInfo and WriteForm: an uploaded file's client name and size, and
// its content saved on the server.
#include "webmng/conversions.h"
#include "webmng/file_access.h"
#include "webmng/form_call.h"
#include "webmng/webmng_methods.h"

namespace {
// Offset of the last '\' or '/' of a client file name, or 0 for none (a
// leading separator never splits). The walk goes by characters of the ANSI
// code page, so the second byte of a double-byte character (表 is 0x95 0x5C)
// is never taken for a backslash; '/' counts too, so a name such as
// ../../x.asp carries no directory part into the file name.
int LastSeparator(const char* pszName) {
    int iLast = 0;
    for (int i = 0; pszName[i] != '\0';) {
        if (IsDBCSLeadByte(static_cast<BYTE>(pszName[i])) && pszName[i + 1] != '\0') {
            i += 2;
            continue;
        }
        if (i > 0 && (pszName[i] == '\\' || pszName[i] == '/')) iLast = i;
        ++i;
    }
    return iLast;
}
}  // namespace

STDMETHODIMP WebMngMethods::GetFileInfo(VARIANT* pvarBinaryArray, BSTR bstrItemName, VARIANT* pvarPath,
                                        VARIANT* pvarFilename, VARIANT* pvarFileSize, LONG* plResult) {
    auto clearOutputs = [&] {
        pvarPath->vt = VT_BSTR;
        pvarPath->bstrVal = nullptr;
        pvarFilename->vt = VT_BSTR;
        pvarFilename->bstrVal = nullptr;
        pvarFileSize->vt = VT_I4;
        pvarFileSize->lVal = 0;
        *plResult = -1;
    };
    LockedByteArray body;
    RETURN_IF_FAILED(OpenBody(body, pvarBinaryArray, pvarPath && pvarFilename && pvarFileSize && plResult,
                              {{bstrItemName, Msg::kItemNameNull}}, clearOutputs));
    FormScan scan;
    std::int32_t lResult = ScanBody(body, bstrItemName, scan, ScanMode::kAllParts);
    if (lResult > 0) {
        const char* pszName = scan.szFilename;
        int iSeparator = LastSeparator(pszName);
        if (iSeparator > 0) {
            pvarPath->bstrVal = AnsiToWide(pszName, iSeparator);
            pszName += iSeparator + 1;
        }
        pvarFilename->bstrVal = AnsiToWide(pszName);
        pvarFileSize->lVal = scan.lValueLength[0];
        *plResult = 0;
    } else {
        ReportScanFailure(lResult);
    }
    return FinishLocked(body);
}

namespace {
// Writes the scan's values to the new file: one value as it stands, several
// joined by single commas. Publishes its own failures.
bool WriteValues(HANDLE hFile, const FormScan& scan) {
    bool bWritten;
    if (scan.lValueCount > 1) {
        ModuleBlock joined;
        std::size_t cbJoined = 0;
        if (!JoinValues(scan, joined, &cbJoined)) {
            ReportError(Msg::kWorkMemory);
            return false;
        }
        bWritten = WriteWhole(hFile, joined.get(), static_cast<DWORD>(cbJoined - 1));
    } else {
        bWritten = WriteWhole(hFile, scan.pValueStart[0], static_cast<DWORD>(scan.lValueLength[0]));
    }
    if (!bWritten) ReportError(Msg::kFileWriteError);
    return bWritten;
}
}  // namespace

STDMETHODIMP WebMngMethods::WriteForm(VARIANT* pvarBinaryArray, BSTR bstrFilename, BSTR bstrItemName,
                                      LONG* plResult) {
    LockedByteArray body;
    RETURN_IF_FAILED(OpenBody(body, pvarBinaryArray, plResult != nullptr,
                              {{bstrFilename, Msg::kFileNameNull}, {bstrItemName, Msg::kItemNameNull}},
                              [&] { *plResult = -1; }));
    FormScan scan;
    std::int32_t lResult = ScanBody(body, bstrItemName, scan, ScanMode::kAllParts);
    AnsiString path;
    if (lResult <= 0) {
        ReportScanFailure(lResult);
    } else if (ConvertPath(path, bstrFilename, Msg::kFileOpenError)) {
        // Only a new file: an existing one is never overwritten.
        UniqueFileHandle file(OpenForWriting(bstrFilename, path.get(), CREATE_NEW));
        if (!file) {
            ReportError(Msg::kFileOpenError);
        } else if (WriteValues(file.get(), scan)) {
            *plResult = 0;
        } else {
            // The file is ours (made new above): a partial upload left behind
            // would pass for a whole one and block a retry under its name.
            file.reset();
            ::DeleteFileA(path.get());
        }
    }
    return FinishLocked(body);
}
