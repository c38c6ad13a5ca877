// Sanitizer builds only: what every process of ours tells the leak checker, whatever
// environment it was started with (a device's tools and SpringBoard start with their own).
// The runtime's class and selector tables and Foundation's log prefix are made once and kept
// for the life of the process; the stacks that show it need the slow unwinder.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_suppressions()
{
    return "leak:libobjc.so.4\nleak:NSLogv\nleak:libfontconfig.so\n";
}

extern "C" __attribute__((visibility("default"))) const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

// Output of the programs is what the tests compare: no list of the suppressions used.
extern "C" __attribute__((visibility("default"))) const char* __lsan_default_options()
{
    return "print_suppressions=0";
}
