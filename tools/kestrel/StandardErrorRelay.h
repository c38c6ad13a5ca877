// Keeps a child that outlives `kestrel` from holding the caller's standard error open.
#pragma once

#include <thread>

namespace Kestrel {

// The tools the Settings app starts share its standard error (the package query's tool
// complains there). One that closes its output and lingers would keep a caller reading
// kestrel's standard error waiting until the tool exits, long after kestrel has. While a
// relay lives, standard error is a pipe that a thread copies to the real one; destroying the
// relay copies what is left and puts the real one back, so a lingering tool holds only the pipe.
// Where the pipe cannot be made, standard error stays as it is.
class StandardErrorRelay {
public:
    StandardErrorRelay();
    ~StandardErrorRelay();
    StandardErrorRelay(const StandardErrorRelay&) = delete;
    StandardErrorRelay& operator=(const StandardErrorRelay&) = delete;

private:
    void relay();
    bool copyAvailable();

    int m_original { -1 };
    int m_pipe { -1 };
    int m_wake[2] { -1, -1 };
    std::thread m_thread;
};

} // namespace Kestrel
