# libdeflate as the target libdeflate::libdeflate, where this build has one: a static library
# compiled here from Debian's source package of the version this machine's libdeflate-dev comes
# from, which scripts/install-deps.sh unpacks below /usr/src/libdeflate. Windows needs it (Debian
# has no MinGW build of the library); Linux takes it too, because Debian's hardened shared build
# compresses about 10 % slower, which a tree of small files pays for every one of them. Without
# the source, Linux links the system's library and Windows uses zlib.
file(GLOB quarnel_libdeflate_trees LIST_DIRECTORIES true /usr/src/libdeflate/libdeflate-*)
list(SORT quarnel_libdeflate_trees COMPARE NATURAL)
list(POP_BACK quarnel_libdeflate_trees quarnel_libdeflate_default)
set(QUARNEL_LIBDEFLATE_SOURCE_DIR "${quarnel_libdeflate_default}" CACHE PATH "libdeflate's source tree")
if(EXISTS "${QUARNEL_LIBDEFLATE_SOURCE_DIR}/libdeflate.h")
    file(GLOB quarnel_libdeflate_sources
        ${QUARNEL_LIBDEFLATE_SOURCE_DIR}/lib/*.c ${QUARNEL_LIBDEFLATE_SOURCE_DIR}/lib/x86/*.c)
    add_library(quarnel_libdeflate STATIC ${quarnel_libdeflate_sources})
    target_include_directories(quarnel_libdeflate SYSTEM PUBLIC ${QUARNEL_LIBDEFLATE_SOURCE_DIR})
    # Its own code, built with its makefile's flags (these come after the build type's);
    # our warning flags are not its business.
    target_compile_options(quarnel_libdeflate PRIVATE -O2 -fomit-frame-pointer -std=c99 -D_ANSI_SOURCE -w)
    add_library(libdeflate::libdeflate ALIAS quarnel_libdeflate)
elseif(WIN32)
    message(WARNING "libdeflate's source package is not below /usr/src/libdeflate "
        "(scripts/install-deps.sh fetches it): the Windows build uses zlib")
else()
    find_library(QUARNEL_LIBDEFLATE_LIBRARY NAMES deflate)
    find_path(QUARNEL_LIBDEFLATE_INCLUDE NAMES libdeflate.h)
    if(QUARNEL_LIBDEFLATE_LIBRARY AND QUARNEL_LIBDEFLATE_INCLUDE)
        add_library(libdeflate::libdeflate UNKNOWN IMPORTED)
        set_target_properties(libdeflate::libdeflate PROPERTIES
            IMPORTED_LOCATION ${QUARNEL_LIBDEFLATE_LIBRARY}
            INTERFACE_INCLUDE_DIRECTORIES ${QUARNEL_LIBDEFLATE_INCLUDE})
    endif()
endif()
