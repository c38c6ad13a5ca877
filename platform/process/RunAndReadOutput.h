// Run a device program and collect its standard output: the stand-in for a task with its
// output piped back to the caller, which the system uses to query the device's tools.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace Platform {

struct RunResult {
    bool started { false };
    std::string output;
    std::optional<int> exitStatus; // set when the program exited normally
    std::optional<int> terminationSignal; // set when a signal ended it
    int startError { 0 }; // the error number when it did not start
};

// Starts devicePath directly (no shell, no PATH search) with argv[0] = devicePath followed by
// the arguments unchanged, in deviceWorkingDirectory (both resolved under the device root).
// Standard output goes to a pipe; standard input, standard error and the environment are
// inherited, and no other descriptor of ours reaches the child. Reads the pipe to its end,
// then reaps the child. A program that is missing or cannot start gives started == false and
// no output.
RunResult runAndReadOutput(
    std::string_view devicePath, const std::vector<std::string>& arguments, std::string_view deviceWorkingDirectory);

} // namespace Platform
