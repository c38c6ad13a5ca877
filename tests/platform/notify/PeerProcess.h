// Another process of a device, for the notify tests: this test program started again in peer
// mode, driven by command lines on its standard input and answering on its standard output.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

// The peer's side. Observes each name given (through the CoreFoundation calls) and prints
// "ready". Then, per input line: "post NAME [COUNT]" posts and prints "posted"; "post-cf NAME"
// posts with an object and user info; "drain" prints "drained" after draining; "count NAME"
// prints "count NAME N". Each delivery prints "got NAME object=null info=null" (unless
// --quiet). Ends at the end of its input.
int runNotifyPeer(int argc, char** argv);
constexpr std::string_view notifyPeerFlag = "--notify-peer";

class PeerProcess {
public:
    PeerProcess(const std::string& deviceRoot, const std::vector<std::string>& observedNames, bool quiet = false);
    // Ends the peer: end of input, then SIGKILL by pid if it has not exited within seconds.
    ~PeerProcess();
    PeerProcess(const PeerProcess&) = delete;
    PeerProcess& operator=(const PeerProcess&) = delete;

    pid_t pid() const { return m_pid; }
    void command(std::string_view line);
    // Lines are read until one equals line; false on timeout or end of output.
    bool waitForLine(std::string_view line, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    std::optional<std::string> readLine(std::chrono::milliseconds timeout);
    // Sends "count NAME" and answers the count, or -1.
    long count(std::string_view name);
    // Drains the peer's deliveries and answers every "got" line seen since the last call.
    std::vector<std::string> drainedDeliveries();

    void signal(int);
    // After SIGSTOP: whether every thread of the peer has stopped, within seconds.
    bool waitUntilStopped();
    // The wait status once it has ended (or nullopt after the timeout).
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    pid_t m_pid { -1 };
    int m_input { -1 };
    int m_output { -1 };
    bool m_reaped { false };
    std::string m_buffer;
    std::vector<std::string> m_deliveries;
};
