// Variable expansion of a registry script: %% becomes %, %NAME% becomes the
// value of NAME in the replacement map, in the ANSI code page.
#pragma once
#include "platform/win32_types.h"

class ReplacementMap;

// Longest variable name, in bytes.
constexpr int kMaxVariableName = 31;

// On success *ppszExpanded is a NUL-terminated copy from the task allocator
// that the caller frees with TaskMemFree; on failure it is null.
HRESULT ExpandVariables(const char* pszScript, const ReplacementMap& replacements, char** ppszExpanded);
