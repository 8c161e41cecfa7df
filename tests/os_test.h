// What the OS layer's test files share.
#pragma once

#include "os.h"

// True in the native POSIX build, false in the Windows one.
inline bool on_posix()
{
    return os_program_suffix[0] == '\0';
}
