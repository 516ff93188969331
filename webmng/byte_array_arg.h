// The byte-array argument of the form and write methods.
#pragma once
#include <windows.h>
#include <oleauto.h>

// Only VT_ARRAY|VT_UI1 exactly, with a one-dimensional array of one-byte
// elements behind it, is accepted; a by-reference form is refused. The
// descriptor must agree with the type: its first bound is taken as the
// length, so a second dimension would be half read, and an element count
// without data would hand out memory that is not the array's.
inline bool IsByteArrayArg(const VARIANT* pvar) {
    if (pvar->vt != (VT_ARRAY | VT_UI1)) return false;
    const SAFEARRAY* psa = pvar->parray;
    return psa != nullptr && psa->cDims == 1 && psa->cbElements == 1 &&
           (psa->rgsabound[0].cElements == 0 || psa->pvData != nullptr);
}

// Holds the argument's data locked for the call. Unlock() reports whether the
// unlock succeeded; a lock still held on another way out is released here.
class LockedByteArray {
public:
    ~LockedByteArray() { if (m_psa) SafeArrayUnaccessData(m_psa); }
    LockedByteArray() = default;
    LockedByteArray(const LockedByteArray&) = delete;
    LockedByteArray& operator=(const LockedByteArray&) = delete;

    // The length is the first bound's element count, read before the lock.
    bool Lock(SAFEARRAY* psa) {
        m_cb = psa->rgsabound[0].cElements;
        void* pv = nullptr;
        if (FAILED(SafeArrayAccessData(psa, &pv))) return false;
        m_psa = psa;
        m_pb = static_cast<const unsigned char*>(pv);
        return true;
    }
    bool Unlock() {
        SAFEARRAY* psa = m_psa;
        m_psa = nullptr;
        m_pb = nullptr;
        return SUCCEEDED(SafeArrayUnaccessData(psa));
    }

    const unsigned char* data() const { return m_pb; }
    ULONG size() const { return m_cb; }

private:
    SAFEARRAY* m_psa = nullptr;
    const unsigned char* m_pb = nullptr;
    ULONG m_cb = 0;
};
