// Form and FormBinary: the values of a named field of a request body.
#include "webmng/conversions.h"
#include "webmng/form_call.h"
#include "webmng/webmng_methods.h"

STDMETHODIMP WebMngMethods::Form(VARIANT* pvarBinaryArray, BSTR bstrItemName, BSTR* pbstrValue) {
    LockedByteArray body;
    RETURN_IF_FAILED(OpenBody(body, pvarBinaryArray, pbstrValue != nullptr, {{bstrItemName, Msg::kItemNameNull}},
                              [&] { *pbstrValue = nullptr; }));
    FormScan scan;
    std::int32_t lResult = ScanBody(body, bstrItemName, scan, ScanMode::kTextOnly);
    if (lResult > 0) {
        bool bNoWorkMemory = false;
        *pbstrValue = JoinedValuesToWide(scan, &bNoWorkMemory);
        if (bNoWorkMemory) ReportError(Msg::kWorkMemory);
    } else {
        ReportScanFailure(lResult);
    }
    return FinishLocked(body);
}

STDMETHODIMP WebMngMethods::FormBinary(VARIANT* pvarBinaryArray, BSTR bstrItemName, VARIANT* pvarBinaryValue) {
    LockedByteArray body;
    RETURN_IF_FAILED(OpenBody(body, pvarBinaryArray, pvarBinaryValue != nullptr,
                              {{bstrItemName, Msg::kItemNameNull}}, [&] { pvarBinaryValue->parray = nullptr; }));
    FormScan scan;
    std::int32_t lResult = ScanBody(body, bstrItemName, scan, ScanMode::kAllParts);
    if (lResult > 0) {
        if (scan.lValueCount > 1) {
            ModuleBlock joined;
            std::size_t cbJoined = 0;
            if (!JoinValues(scan, joined, &cbJoined))
                ReportError(Msg::kWorkMemory);
            else if (!MakeByteArray(pvarBinaryValue, joined.get(), static_cast<ULONG>(cbJoined - 1)))
                ReportError(Msg::kException);
        } else if (!MakeByteArray(pvarBinaryValue, scan.pValueStart[0], static_cast<ULONG>(scan.lValueLength[0]))) {
            ReportError(Msg::kException);
        }
    } else {
        ReportScanFailure(lResult);
    }
    return FinishLocked(body);
}
