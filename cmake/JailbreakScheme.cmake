# The two package schemes of jailbreaks, the one place they are written. Rootful: every file a
# package or the jailbreak installs is where the system names it (/Library/..., /usr/bin/...).
# Rootless (iOS 15 and later): all of them are under /var/jb. The user's settings file
# (/var/mobile/Library/Preferences/...) is the same under both.
set(KESTREL_SCHEMES rootful rootless)
set(KESTREL_SCHEME_ROOT_rootful "")
set(KESTREL_SCHEME_ROOT_rootless "/var/jb")
# The phone packages' architecture and the firmware they need.
set(KESTREL_SCHEME_ARCH_rootful iphoneos-arm)
set(KESTREL_SCHEME_ARCH_rootless iphoneos-arm64)
set(KESTREL_SCHEME_FIRMWARE_rootful 10.0)
set(KESTREL_SCHEME_FIRMWARE_rootless 15.0)
# Substrate, as the phone's loader finds it: its own path, or @rpath with run paths under the
# jailbreak's root.
set(KESTREL_SCHEME_SUBSTRATE_rootful /Library/Frameworks/CydiaSubstrate.framework/CydiaSubstrate)
set(KESTREL_SCHEME_SUBSTRATE_rootless @rpath/CydiaSubstrate.framework/CydiaSubstrate)
set(KESTREL_SCHEME_RPATHS_rootful "")
set(KESTREL_SCHEME_RPATHS_rootless /var/jb/Library/Frameworks /var/jb/usr/lib)

# Builds target's sources for a scheme: KESTREL_JAILBREAK_ROOT, which KESTREL_JAILBREAK_PATH
# (platform/foundation/PlatformCalls.h) puts before each such path.
function(kestrel_jailbreak_scheme target scheme)
    if(NOT scheme IN_LIST KESTREL_SCHEMES)
        message(FATAL_ERROR "unknown package scheme ${scheme}")
    endif()
    target_compile_definitions(${target} PRIVATE "KESTREL_JAILBREAK_ROOT=\"${KESTREL_SCHEME_ROOT_${scheme}}\"")
endfunction()

# The simulator runs devices of both schemes, so every binary a package or the jailbreak's base
# installs is built once per scheme: TARGET for rootful devices, TARGET-rootless for rootless ones,
# in a rootless/ folder beside the first. kestrel_scheme_target gives the variant's name.
function(kestrel_scheme_target out target scheme)
    if(scheme STREQUAL "rootful")
        set(${out} ${target} PARENT_SCOPE)
    else()
        set(${out} ${target}-${scheme} PARENT_SCOPE)
    endif()
endfunction()

# Gives a scheme's variant its file name (name) and its folder: `folder` (the build's lib or bin
# when empty) for rootful, its rootless/ subfolder for rootless.
function(kestrel_scheme_output target scheme name folder)
    get_target_property(type ${target} TYPE)
    if(NOT folder)
        if(type STREQUAL "EXECUTABLE")
            set(folder ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
        else()
            set(folder ${CMAKE_LIBRARY_OUTPUT_DIRECTORY})
        endif()
    endif()
    if(NOT scheme STREQUAL "rootful")
        get_filename_component(leaf ${folder} NAME)
        get_filename_component(parent ${folder} DIRECTORY)
        if(leaf MATCHES "\\.bundle$")
            set(folder ${parent}/${scheme}/${leaf})
        else()
            set(folder ${folder}/${scheme})
        endif()
    endif()
    set_target_properties(${target} PROPERTIES OUTPUT_NAME ${name}
        LIBRARY_OUTPUT_DIRECTORY ${folder} RUNTIME_OUTPUT_DIRECTORY ${folder})
endfunction()
