// The engine's test seams, in one place, for the tests and the benchmarks only. Tests that
// install the engine more than once in one process put it back to its state at load between
// installs. Nothing here is exported from the injected library, and no product path calls it.
#pragma once

#include <cstddef>

// Takes the engine's hooks out again (each method gets back what it had, unless something
// hooked it since), empties the slots, forgets the shared state, not yet installed.
void kestrelResetForTesting();

// Forgets the shared-state object and its once-only guard.
void resetSharedStateForTesting();

namespace Hooks {

// Every word the engine's reports can carry, to check them against the words their readers know.
struct ReportWords {
    const char* const* outcomes;
    size_t outcomeCount;
    const char* const* reasons;
    size_t reasonCount;
    const char* const* delayedUnlockResults;
    size_t delayedUnlockResultCount;
};
ReportWords reportWords();

} // namespace Hooks
