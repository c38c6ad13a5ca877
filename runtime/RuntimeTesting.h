// The runtime's test seams, in one place: nothing in the product calls them.
#pragma once

#include "runtime/Class.h"

#include <functional>

namespace Runtime {

// Forgets every class and registers the built-in ones again, for tests that
// need a clean runtime. Classes from before stay alive for objects that
// still point at them, but no lookup finds them.
void resetRegistryForTesting();

// Called at the start of every hooking call, before anything is installed; a
// test may throw from it to see how callers cope with a failing hook.
void setHookInterceptorForTesting(std::function<void(Class*, Selector)>);

} // namespace Runtime
