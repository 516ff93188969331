// An array of VARIANTs as a method answers with one (VT_ARRAY|VT_VARIANT).
#pragma once
#include <windows.h>
#include <oleauto.h>

#include <utility>

#include "platform/safe_array.h"

// A new one-dimensional array of cElements VARIANTs (lower bound 0, each
// VT_EMPTY), filled through Element() and handed over with MoveTo(); an
// array not handed over is destroyed with what was put in it.
class VariantArray {
public:
    explicit VariantArray(ULONG cElements) {
        SAFEARRAYBOUND bound{cElements, 0};
        UniqueSafeArray array(SafeArrayCreate(VT_VARIANT, 1, &bound));
        if (array && m_access.Lock(array.get())) m_array = std::move(array);
    }
    VariantArray(const VariantArray&) = delete;
    VariantArray& operator=(const VariantArray&) = delete;

    // False when the array could not be made.
    explicit operator bool() const { return static_cast<bool>(m_array); }
    VARIANT& Element(ULONG i) { return m_access.data<VARIANT>()[i]; }
    // Hands the array over as the variant's value.
    void MoveTo(VARIANT* pvar) {
        m_access.Unlock();
        MoveArrayTo(m_array, VT_VARIANT, pvar);
    }

private:
    UniqueSafeArray m_array;    // destroyed last,
    SafeArrayAccess m_access;   // after its lock is given back
};
