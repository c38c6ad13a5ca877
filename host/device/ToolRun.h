// Runs the machine's own programs (dpkg, dpkg-deb, dpkg-query) and collects everything they
// printed. Several may run at once: start each, then finish each.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace Device {

struct ToolResult {
    std::string program; // the last component of its path
    bool started { false };
    int exitCode { -1 }; // -1 unless the program exited by itself
    int signal { 0 }; // the signal that ended it, if one did
    std::string output; // standard output and standard error, in the order written

    bool succeeded() const { return started && !exitCode; }
};

struct ToolOptions {
    bool discardStandardOutput { false }; // keep only standard error
};

// One running program. It starts argv[0] (an absolute path; no PATH search) with the rest
// as its arguments, standard input from /dev/null, a plain environment (a sane PATH, the C
// locale) and no descriptor of ours. Its output goes to an unnamed file rather than a pipe,
// and it runs in a process group of its own: if this process dies or is interrupted from
// the terminal, the program still runs to its end instead of dying half-way through its work.
class ToolRun {
public:
    static ToolRun start(const std::vector<std::string>& argv, const ToolOptions& = {});
    ToolRun(ToolRun&&);
    ToolRun& operator=(ToolRun&&) = delete;
    ToolRun(const ToolRun&) = delete;
    ToolRun& operator=(const ToolRun&) = delete;
    ~ToolRun();

    // Waits for the program to end and gives what it printed. Once only.
    ToolResult finish();

private:
    ToolRun() = default;

    pid_t m_pid { -1 };
    int m_output { -1 };
    ToolResult m_result;
};

// Starts the program and finishes it.
ToolResult runTool(const std::vector<std::string>& argv, const ToolOptions& = {});

// The one line for a package database that an earlier dpkg still holds: the pid of that
// dpkg when it is known ("" when not).
std::string busyDatabaseReason(const std::string& pid);

// Why the program failed, in one line: the line of its output that says so (dpkg's reason,
// not its epilogue), or the signal that ended it. dpkg refusing a database another dpkg
// holds says so as busyDatabaseReason does.
std::string failureReason(const ToolResult&);

} // namespace Device
