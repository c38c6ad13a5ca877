// The Objective-C runtime's C interface: GCC's own headers on the device, and on a phone
// the few calls this project makes, declared from Apple's public documentation.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__APPLE__)

// Apple's runtime (libobjc.A.dylib) and the two calls of Foundation the header makes, as
// their documentation gives them; every one is exported by the system's library.
extern "C" {
typedef struct objc_class* Class;
typedef struct objc_object {
    Class isa;
} * id;
typedef struct objc_selector* SEL;
typedef struct objc_method* Method;
typedef struct objc_ivar* Ivar;
typedef void (*IMP)(void);
// arm64: BOOL is the C++ bool, and its type encoding is "B".
typedef bool BOOL;
#define YES true
#define NO false
#define nil nullptr
#define Nil nullptr

Class objc_getClass(const char* name);
Class objc_allocateClassPair(Class superclass, const char* name, size_t extraBytes);
void objc_registerClassPair(Class);
Class object_getClass(id);
Class class_getSuperclass(Class);
const char* class_getName(Class);
BOOL class_addMethod(Class, SEL, IMP, const char* types);
BOOL class_addIvar(Class, const char* name, size_t size, uint8_t alignment, const char* types);
BOOL class_respondsToSelector(Class, SEL);
Method class_getInstanceMethod(Class, SEL);
IMP class_getMethodImplementation(Class, SEL);
Ivar class_getInstanceVariable(Class, const char* name);
IMP method_getImplementation(Method);
const char* method_getTypeEncoding(Method);
ptrdiff_t ivar_getOffset(Ivar);
const char* ivar_getTypeEncoding(Ivar);
id object_getIvar(id, Ivar);
void object_setIvar(id, Ivar, id);
SEL sel_registerName(const char*);
const char* sel_getName(SEL);
// Declared without a prototype, as Apple asks: every send casts it to the exact type.
void objc_msgSend(void);
id objc_loadWeakRetained(id* location);
id objc_initWeak(id* location, id value);
void objc_destroyWeak(id* location);
id objc_storeWeak(id* location, id value);
// Foundation's class lookup by name.
Class NSClassFromString(id name);
}
#define KESTREL_OBJC_APPLE 1

#else

#include <objc/message.h>
#include <objc/runtime.h>

extern "C" {
// Foundation's class lookup by name (GNUstep Base).
Class NSClassFromString(id name);
// Updates the dispatch tables of a class and its subclasses after a method changed; GCC's
// method_setImplementation leaves subclasses that were already messaged with the old one.
void __objc_update_dispatch_table_for_class(Class);

// Zeroing weak references, which GCC's runtime lacks: the platform keeps them, under
// Apple's names and contracts. Every location must be initialised before use and destroyed
// before its memory goes away.
id objc_initWeak(id* location, id value);
id objc_storeWeak(id* location, id value);
// The object, retained (release it), or nil once it has begun to deallocate.
id objc_loadWeakRetained(id* location);
void objc_destroyWeak(id* location);
}
#define KESTREL_OBJC_GNU 1

#endif
