// Reading an upload's progress by its id, from any thread of any process of
// the machine that runs as the upload's account: the record as one
// consistent snapshot, and the figures worked out from it.
#pragma once
#include <cstddef>

#include "progress/progress_figures.h"
#include "progress/progress_record.h"

enum class ProgressReadStatus {
    kOk,
    kUnknown,  // no upload under this id (or its record is gone)
    kBadId,    // not 1-64 letters, digits and '-'
    kDenied,   // the record belongs to another account
    kBusy,     // the writer never stood still within the tries
    kFailed,   // the system refused
};

struct ProgressReport {
    ProgressRecord record;  // its texts end in terminators
    ProgressFigures figures;
};

// Fills *pReport in every case: whenever the status is not kOk, with the
// record of state unknown and its figures.
ProgressReadStatus ReadProgress(const wchar_t* pchId, std::size_t cchId, ProgressReport* pReport);
