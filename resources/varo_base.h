// The generated interface header imports the automation base types; on the
// C++ side they come from the platform headers.
#pragma once
#include <windows.h>
#include <ole2.h>
#include <oaidl.h>
