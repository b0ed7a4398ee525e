# libdeflate as the target libdeflate::libdeflate, where this build has one: on Linux the
# system's library (Debian's libdeflate-dev). Without it the archive code falls back to zlib.
if(NOT WIN32)
    find_library(QUARNEL_LIBDEFLATE_LIBRARY NAMES deflate)
    find_path(QUARNEL_LIBDEFLATE_INCLUDE NAMES libdeflate.h)
    if(QUARNEL_LIBDEFLATE_LIBRARY AND QUARNEL_LIBDEFLATE_INCLUDE)
        add_library(libdeflate::libdeflate UNKNOWN IMPORTED)
        set_target_properties(libdeflate::libdeflate PROPERTIES
            IMPORTED_LOCATION ${QUARNEL_LIBDEFLATE_LIBRARY}
            INTERFACE_INCLUDE_DIRECTORIES ${QUARNEL_LIBDEFLATE_INCLUDE})
    endif()
endif()
