// Early return on a failed status, so a sequence of steps reads as a list.
#pragma once

#define RETURN_IF_FAILED(expr)           \
    do {                                 \
        const HRESULT hrChecked = (expr); \
        if (FAILED(hrChecked)) return hrChecked; \
    } while (0)
