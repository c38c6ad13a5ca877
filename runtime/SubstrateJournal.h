// The hook journal: every hooking call and what came of it, in order, for tests to read.
#pragma once

#include <string>
#include <vector>

namespace ObjC {

enum class HookOutcome { Replaced, AddedOverride, Skipped };

struct HookRecord {
    std::string className; // "(nil)" for a nil class
    std::string selector; // "(nil)" for a nil selector
    HookOutcome outcome;
    std::string reason; // why a hook was skipped
};

std::vector<HookRecord> hookJournal();
void clearHookJournal();

} // namespace ObjC
