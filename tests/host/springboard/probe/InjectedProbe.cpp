// A library with nothing to do, for the injection loader to load or leave.
extern "C" int injectedProbe() { return 1; }
