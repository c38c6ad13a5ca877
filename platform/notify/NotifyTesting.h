// The notify center's test seam: nothing in the product calls it.
#pragma once

namespace Platform {

// Drops every observer and monitor and closes the process's endpoint, so a test can start
// from a fresh center. Waits for a callback that is running to return.
void resetNotifyForTesting();

} // namespace Platform
