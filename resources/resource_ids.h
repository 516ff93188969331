// The numbered resources of VARO.DLL, named once for the resource script
// (varo.rc.in) and the class rows (module/class_rows.cpp), which hand each
// class its registry script. The type library is resource 1, where
// LoadTypeLib looks for it in a module.
#pragma once

#define VARO_WEBMNG_SCRIPT 101
#define VARO_UPLOAD_SCRIPT 102
#define VARO_PROGRESS_SCRIPT 103
#define VARO_RESUMABLE_SCRIPT 104
