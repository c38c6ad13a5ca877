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
