// Byte arrays as scripts pass them in and receive them: VT_ARRAY|VT_UI1
// variants holding one dimension of one-byte elements.
#pragma once
#include <windows.h>
#include <oleauto.h>

#include "platform/safe_array.h"

// The descriptor must agree with the type: its first bound is taken as the
// length, so a second dimension would be half read, and an element count
// without data would hand out memory that is not the array's.
inline bool IsByteArray(const SAFEARRAY* psa) {
    return psa != nullptr && psa->cDims == 1 && psa->cbElements == 1 &&
           (psa->rgsabound[0].cElements == 0 || psa->pvData != nullptr);
}

// Only VT_ARRAY|VT_UI1 exactly is accepted; a by-reference form is refused.
inline bool IsByteArrayArg(const VARIANT* pvar) {
    return pvar->vt == (VT_ARRAY | VT_UI1) && IsByteArray(pvar->parray);
}

// A byte array's data locked for a call. Unlock() reports whether the unlock
// succeeded; a lock still held on another way out is given back here.
class LockedByteArray {
public:
    // The length is the first bound's element count, read before the lock.
    bool Lock(SAFEARRAY* psa) {
        m_cb = psa->rgsabound[0].cElements;
        return m_access.Lock(psa);
    }
    bool Unlock() { return m_access.Unlock(); }

    const unsigned char* data() const { return m_access.data<const unsigned char>(); }
    ULONG size() const { return m_cb; }

private:
    SafeArrayAccess m_access;
    ULONG m_cb = 0;
};

// Fills *pvar with a new one-dimensional byte array (lower bound 0) holding a
// copy of the bytes. The type is set to VT_ARRAY|VT_UI1 first, so it holds
// even when a later step fails; an array that was made stays in the variant.
// Only the type and the array are written.
bool MakeByteArray(VARIANT* pvar, const void* pvBytes, ULONG cbBytes);
