# Cross-compiling for a phone: arm64 iOS Mach-O from Debian's clang 16 and ld64.lld 16, with
# no SDK. The C++ library's headers are libc++'s, of which only <cstddef>, <cstdint> and
# <type_traits> compile without the SDK; nothing is linked but the text stubs in phone/stubs.
# The lowest system these linkers write a minimum for is the one the packages support: iOS 10.
# CMake's Darwin platform gives dylibs and bundles their Mach-O link lines; its iOS platform
# would want an SDK.
set(CMAKE_SYSTEM_NAME Darwin)
set(CMAKE_SYSTEM_PROCESSOR arm64)
set(KESTREL_IPHONEOS ON)
set(KESTREL_IPHONEOS_MINIMUM 10.0)

find_program(KESTREL_IPHONEOS_CC clang-16 REQUIRED)
find_program(KESTREL_IPHONEOS_CXX clang++-16 REQUIRED)
find_program(KESTREL_IPHONEOS_LD ld64.lld-16 REQUIRED)
set(CMAKE_C_COMPILER ${KESTREL_IPHONEOS_CC})
set(CMAKE_CXX_COMPILER ${KESTREL_IPHONEOS_CXX})
set(CMAKE_C_COMPILER_TARGET arm64-apple-ios${KESTREL_IPHONEOS_MINIMUM})
set(CMAKE_CXX_COMPILER_TARGET arm64-apple-ios${KESTREL_IPHONEOS_MINIMUM})
find_program(CMAKE_STRIP llvm-strip-16)
find_program(CMAKE_AR llvm-ar-16)
find_program(CMAKE_RANLIB llvm-ranlib-16)

set(KESTREL_LIBCXX_HEADERS /usr/lib/llvm-16/include/c++/v1)
set(CMAKE_CXX_FLAGS_INIT "-nostdinc++ -nostdlibinc -isystem ${KESTREL_LIBCXX_HEADERS} -Wno-unused-command-line-argument")
set(CMAKE_C_FLAGS_INIT "-nostdlibinc -Wno-unused-command-line-argument")
# ld64.lld (clang 16 finds lld 16's beside itself), no crt or libSystem of a missing SDK, and an
# ad hoc signature.
set(KESTREL_IPHONEOS_LINK_FLAGS "-fuse-ld=lld -nostdlib -Wl,-adhoc_codesign")
set(CMAKE_SHARED_LINKER_FLAGS_INIT ${KESTREL_IPHONEOS_LINK_FLAGS})
set(CMAKE_MODULE_LINKER_FLAGS_INIT ${KESTREL_IPHONEOS_LINK_FLAGS})
set(CMAKE_EXE_LINKER_FLAGS_INIT ${KESTREL_IPHONEOS_LINK_FLAGS})
# Nothing can be linked into an executable without the SDK's crt: try a static library.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
