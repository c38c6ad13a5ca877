// Run a device program and collect its standard output: the stand-in for a task with its
// output piped back to the caller, which the system uses to query the device's tools.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace Platform {

// More output than a device tool's answer could ever be: past this the reading stops.
constexpr size_t defaultOutputLimit = 16 * 1024 * 1024;

struct RunResult {
    bool started { false };
    // True when output holds every byte the program wrote until it closed its standard output;
    // false when the reading failed or the output passed the limit (output then holds what was
    // read, never more than the limit) or memory ran out (output is then empty).
    bool complete { false };
    std::string output;
    pid_t pid { -1 }; // the child, when it started
    int startError { 0 }; // the error number when it did not start
};

// Starts devicePath directly (no shell, no PATH search) with argv[0] = devicePath followed by
// the arguments unchanged, in deviceWorkingDirectory (both resolved under the device root).
// Standard output goes to a pipe; standard input, standard error and the environment are
// inherited, and no other descriptor of ours reaches the child. Reads the pipe until the
// program closes it, and never waits for the program to exit: the child is handed to
// ChildReaper, which reaps it whenever it ends, so a program that closes its output and lingers
// costs the caller nothing, and its exit status is not known here. Past outputLimit bytes, or
// when memory runs out, the reading stops and the pipe is closed (the program then gets
// SIGPIPE if it writes on). Never throws. A program that is missing or cannot start gives
// started == false and no output.
RunResult runAndReadOutput(std::string_view devicePath, const std::vector<std::string>& arguments,
    std::string_view deviceWorkingDirectory, size_t outputLimit = defaultOutputLimit);

} // namespace Platform
