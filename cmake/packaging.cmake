# The install rules that belong to no one folder, and the packages cpack makes: on Windows a ZIP
# of both programs and an installer (.msi) of the same files, on Linux a .deb of the command-line
# tool. With QUARNEL_RELEASE_WINDOWS the Linux build also makes the ZIP and the installer, from the
# Windows build in its windows/ folder.
if(WIN32)
    install(FILES README.md LICENSE DESTINATION .)
else()
    install(FILES README.md LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quarnel-cli)
endif()

set(CPACK_PACKAGE_NAME ${PROJECT_NAME})
set(CPACK_PACKAGE_VENDOR "The Quarnel authors")
set(CPACK_PACKAGE_CONTACT "Quarnel maintainers <maintainers@quarnel.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Create, list, extract, edit and check GRF archives")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_QUARNEL_ZIP_NAME ${PROJECT_NAME}-${PROJECT_VERSION}-win64)

if(WIN32)
    set(CPACK_GENERATOR ZIP)
    set(CPACK_PACKAGE_FILE_NAME ${CPACK_QUARNEL_ZIP_NAME})
else()
    set(CPACK_GENERATOR DEB)
    set(CPACK_DEBIAN_PACKAGE_NAME quarnel-cli)
    set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
    set(CPACK_DEBIAN_PACKAGE_SECTION utils)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_PACKAGE_DESCRIPTION "quarnel-cli creates GRF archives (.grf, .gpf: single files \
holding many zlib-compressed files under backslash-separated names), lists, adds, merges, renames, \
deletes and extracts their entries, repacks them and checks every entry.")
    if(QUARNEL_RELEASE_WINDOWS)
        list(APPEND CPACK_GENERATOR ZIP)
        set(CPACK_QUARNEL_WINDOWS_DIR ${QUARNEL_WINDOWS_BINARY_DIR})
        set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/cmake/cpack_per_generator.cmake)
    endif()
endif()
if(WIN32 OR QUARNEL_RELEASE_WINDOWS)
    # After the ZIP: the installer, built from what the ZIP holds.
    set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/msi_package.cmake)
endif()
include(CPack)
