// The library's load-time initialiser.
#include "engine/KestrelInstall.h"

__attribute__((constructor)) static void kestrelLoad() { kestrelInstall(); }
