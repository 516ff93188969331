// Late-bound callers hand their own variables to [out] VARIANT parameters.
#pragma once
#include <windows.h>
#include <oaidl.h>

#include "server/type_info_cache.h"

// Clears each variable that an [out] VARIANT parameter of the member will
// overwrite, where the caller passed it by reference (VT_BYREF|VT_VARIANT) and
// no other argument of the call refers to it. A script reuses its variables
// (mng.ReadBinary f, body after body held the request): written over without
// this, what they held would never be freed. Early-bound callers are not
// touched: the methods themselves keep writing only the type and the value.
// The member's parameters come from the cache's table, read at load.
void ClearOutArguments(const TypeInfoCache& cache, DISPID dispIdMember, WORD wFlags, const DISPPARAMS* pDispParams);
