// The loaded site scripts by host. Finding and loading scripts come with the service and scripts
// layer; the main frame releases the scripts before the context goes.
#pragma once

#include "RwLock.h"

#include <map>
#include <string>

namespace Vellix {
class Script;
}

class ScriptManager {
public:
    ScriptManager() = default;
    ScriptManager(const ScriptManager&) = delete;
    ScriptManager& operator=(const ScriptManager&) = delete;

    RwLock lock;
    std::map<std::string, Vellix::Script*> scripts;
};
