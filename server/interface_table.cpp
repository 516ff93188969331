#include "server/interface_table.h"

HRESULT InterfaceTableLookup(void* pObject, const InterfaceTableEntry* pTable, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    const InterfaceTableEntry* pRow = nullptr;
    if (IsEqualIID(riid, IID_IUnknown)) {
        pRow = pTable;
    } else {
        for (const InterfaceTableEntry* p = pTable; p->pInterfaceId; ++p) {
            if (IsEqualIID(*p->pInterfaceId, riid)) {
                pRow = p;
                break;
            }
        }
    }
    if (!pRow || !pRow->pInterfaceId) return E_NOINTERFACE;
    IUnknown* pInterface = pRow->pfnInterface(pObject);
    pInterface->AddRef();
    *ppv = pInterface;
    return S_OK;
}
