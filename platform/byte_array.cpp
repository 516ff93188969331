#include "platform/byte_array.h"

#include <cstring>

bool MakeByteArray(VARIANT* pvar, const void* pvBytes, ULONG cbBytes) {
    pvar->vt = VT_ARRAY | VT_UI1;
    SAFEARRAYBOUND bound;
    bound.cElements = cbBytes;
    bound.lLbound = 0;
    pvar->parray = SafeArrayCreate(VT_UI1, 1, &bound);
    if (!pvar->parray) return false;
    SafeArrayAccess access;
    if (!access.Lock(pvar->parray)) return false;
    if (cbBytes) std::memcpy(access.data<void>(), pvBytes, cbBytes);
    return access.Unlock();
}
