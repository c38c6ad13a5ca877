// The out-of-line parts of the typed runtime header. Apart from the report of a mismatched
// send, which only GCC's runtime's debug builds make, the language alone: this file builds
// for a phone too.
#include "runtime/ObjC.h"

#include "runtime/ClassDefinition.h"

#if KESTREL_OBJC_GNU
#include <cstdio>
#include <cstdlib>
#include <cstring>
#endif

namespace ObjC {

namespace {

bool isQualifier(char c)
{
    for (const char* qualifier = "rnNoORV+"; *qualifier; ++qualifier) {
        if (c == *qualifier)
            return true;
    }
    return false;
}

// long and long long are one type to this comparison: both are 64 bits here, and
// compilers spell long either way.
char normalised(char c)
{
    if (c == 'l')
        return 'q';
    if (c == 'L')
        return 'Q';
    return c;
}

// Whether types begins with part; length is how much of types it took. A qualifier of what a
// pointer points to ("^rv", a const void*) is no part of the type the C++ side spells.
bool startsWithPart(const char* types, const char* part, size_t& length)
{
    size_t i = 0;
    size_t j = 0;
    for (; part[i]; ++i, ++j) {
        while (j && types[j - 1] == '^' && isQualifier(types[j]) && types[j] != part[i])
            ++j;
        if (normalised(types[j]) != normalised(part[i]))
            return false;
    }
    length = j;
    return true;
}

} // namespace

namespace Detail {

bool encodingMatches(const char* types, const char* const* parts, size_t count)
{
    if (!types)
        return false;
    const char* cursor = types;
    for (size_t index = 0; index < count; ++index) {
        while (isQualifier(*cursor))
            ++cursor;
        size_t length = 0;
        if (!startsWithPart(cursor, parts[index], length))
            return false;
        cursor += length;
        // A part must end here: "^v" must not match the start of "^vv", nor "{A=d}" of "{A=dd}".
        if (*cursor == '=' || *cursor == '}' || *cursor == ']')
            return false;
        if (*cursor == '-')
            ++cursor;
        while (*cursor >= '0' && *cursor <= '9')
            ++cursor;
    }
    return *cursor == '\0';
}

namespace {

// Appends text at buffer[length], keeping one byte for the terminator; the new length.
size_t append(char* buffer, size_t capacity, size_t length, const char* text)
{
    while (*text && length + 1 < capacity)
        buffer[length++] = *text++;
    buffer[length] = '\0';
    return length;
}

size_t appendNumber(char* buffer, size_t capacity, size_t length, size_t number)
{
    char digits[24];
    size_t count = 0;
    do {
        digits[count++] = char('0' + number % 10);
        number /= 10;
    } while (number);
    char text[24];
    for (size_t index = 0; index < count; ++index)
        text[index] = digits[count - 1 - index];
    text[count] = '\0';
    return append(buffer, capacity, length, text);
}

} // namespace

const char* methodTypes(const char* const* parts, const size_t* sizes, size_t count)
{
    // Arguments take whole words on the stack frame the offsets describe.
    auto slot = [](size_t size) { return (size + sizeof(void*) - 1) / sizeof(void*) * sizeof(void*); };
    size_t frame = 0;
    for (size_t index = 1; index < count; ++index)
        frame += slot(sizes[index]);
    char buffer[512];
    size_t length = append(buffer, sizeof buffer, 0, parts[0]);
    length = appendNumber(buffer, sizeof buffer, length, frame);
    size_t offset = 0;
    for (size_t index = 1; index < count; ++index) {
        length = append(buffer, sizeof buffer, length, parts[index]);
        length = appendNumber(buffer, sizeof buffer, length, offset);
        offset += slot(sizes[index]);
    }
    // Kept for the life of the process, as the runtime keeps the pointer it is given.
    char* types = new char[length + 1];
    for (size_t index = 0; index <= length; ++index)
        types[index] = buffer[index];
    return types;
}

#if KESTREL_OBJC_GNU
void signatureMismatch(id receiver, SEL selector, const char* methodTypes, const char* const* parts, size_t count)
{
    char expected[256] = {};
    for (size_t index = 0; index < count; ++index)
        std::strncat(expected, parts[index], sizeof expected - std::strlen(expected) - 1);
    Class cls = receiver ? object_getClass(receiver) : nullptr;
    std::fprintf(stderr, "objc: %s of %s on %s: the C++ types (%s) disagree with the runtime's (%s)\n",
        selector ? "send" : "instance variable read", selector ? sel_getName(selector) : "", cls ? class_getName(cls) : "nil",
        expected, methodTypes ? methodTypes : "none");
    std::abort();
}

#endif

} // namespace Detail

Class classFromString(const char* name) { return name ? NSClassFromString(string(name)) : nullptr; }

bool respondsToSelector(id object, SEL selector) { return object && class_respondsToSelector(object_getClass(object), selector); }

void retain(id object)
{
    static SEL const selector = sel("retain");
    send<id>(object, selector);
}

void release(id object)
{
    static SEL const selector = sel("release");
    send(object, selector);
}

RetainPtr allocInit(Class cls)
{
    static SEL const alloc = sel("alloc");
    static SEL const init = sel("init");
    return adopt(send<id>(send<id>(cls, alloc), init));
}

id string(const char* text)
{
    static ClassReference const stringClass("NSString");
    static SEL const selector = sel("stringWithUTF8String:");
    return text ? send<id>(stringClass.get(), selector, text) : nullptr;
}

const char* utf8(id text)
{
    static SEL const selector = sel("UTF8String");
    return send<const char*>(text, selector);
}

bool isEqualToString(id text, const char* utf8Text)
{
    static SEL const selector = sel("isEqualToString:");
    return send<bool>(text, selector, string(utf8Text));
}

id number(long long value)
{
    static ClassReference const numberClass("NSNumber");
    static SEL const selector = sel("numberWithLongLong:");
    return send<id>(numberClass.get(), selector, value);
}

id number(double value)
{
    static ClassReference const numberClass("NSNumber");
    static SEL const selector = sel("numberWithDouble:");
    return send<id>(numberClass.get(), selector, value);
}

id boolNumber(bool value)
{
    static ClassReference const numberClass("NSNumber");
    static SEL const selector = sel("numberWithBool:");
    return send<id>(numberClass.get(), selector, value);
}

AutoreleasePool::AutoreleasePool()
    : m_pool(allocInit(getClass("NSAutoreleasePool")).leak())
{
}

AutoreleasePool::~AutoreleasePool()
{
    static SEL const drain = sel("drain");
    send(m_pool, drain);
}

} // namespace ObjC
