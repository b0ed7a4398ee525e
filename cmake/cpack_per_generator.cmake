# Read by cpack once for each generator: the ZIP holds the Windows build beside the Linux one.
if(CPACK_GENERATOR STREQUAL "ZIP" AND CPACK_QUARNEL_WINDOWS_DIR)
    set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_QUARNEL_WINDOWS_DIR};quarnel;ALL;/")
    set(CPACK_PACKAGE_FILE_NAME ${CPACK_QUARNEL_ZIP_NAME})
endif()
