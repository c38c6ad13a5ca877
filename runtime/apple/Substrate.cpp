// The typed hook's refusals on a phone, where MSHookMessageEx is Substrate's own: a refused
// hook is one line in the system log (or for whoever the system pointed the warnings at).
#include "runtime/Substrate.h"

extern "C" void NSLog(id format, ...);

namespace ObjC {

namespace {

void (*s_warningHandler)(const char*) = nullptr;

// Appends text at line[length], keeping one byte for the terminator; the new length.
size_t append(char* line, size_t capacity, size_t length, const char* text)
{
    while (text && *text && length + 1 < capacity)
        line[length++] = *text++;
    line[length] = '\0';
    return length;
}

} // namespace

void setHookWarningHandler(void (*handler)(const char*))
{
    __atomic_store_n(&s_warningHandler, handler, __ATOMIC_RELEASE);
}

namespace Detail {

void refuseHook(Class cls, SEL selector, const char* reason)
{
    char line[512];
    size_t length = append(line, sizeof line, 0, "MSHookMessageEx: ");
    length = append(line, sizeof line, length, cls ? class_getName(cls) : "(nil)");
    length = append(line, sizeof line, length, " ");
    length = append(line, sizeof line, length, selector ? sel_getName(selector) : "(nil)");
    length = append(line, sizeof line, length, ": ");
    length = append(line, sizeof line, length, reason);
    append(line, sizeof line, length, "; nothing hooked");
    if (auto handler = __atomic_load_n(&s_warningHandler, __ATOMIC_ACQUIRE))
        handler(line);
    else
        NSLog(string("%s"), line);
}

} // namespace Detail

} // namespace ObjC
