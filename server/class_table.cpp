#include "server/class_table.h"

// The classes this module serves; the terminator row ends the walk.
ClassTableEntry g_ClassTable[] = {
    {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr},
};
