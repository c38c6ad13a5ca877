// Load-time set-up: the engine's only entry point. In SpringBoard it installs
// the hook table; in every other process it does nothing at all. Only the first
// call in a process does anything, whatever it found; later calls return at once.
#pragma once

extern "C" __attribute__((visibility("default"))) void kestrelInstall();
