// The engine's test seams, in one place. Tests that install the engine more than once
// in one process put it back to its state at load between installs. Nothing here is
// exported from the injected library, and no product path calls it.
#pragma once

// Empty slots, no shared state, not yet installed.
void kestrelResetForTesting();

// Forgets the shared-state object and its once-only guard.
void resetSharedStateForTesting();

#include <string_view>
#include <vector>

namespace Hooks {

// Every word the engine's reports can carry, to check them against the words their
// readers know.
struct ReportWords {
    std::vector<std::string_view> outcomes;
    std::vector<std::string_view> reasons;
    std::vector<std::string_view> delayedUnlockResults;
};
ReportWords reportWords();

} // namespace Hooks
