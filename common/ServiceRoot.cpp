// The maker's service root as compiled into a module. Tests that talk to their own reference
// service link a copy of this file made with their root.
#include "common/Url.h"

#ifndef VELLIX_SERVICE_ROOT
#error "VELLIX_SERVICE_ROOT comes from the CMake cache variable of the same name"
#endif

const char* ServiceRoot()
{
    return VELLIX_SERVICE_ROOT;
}
