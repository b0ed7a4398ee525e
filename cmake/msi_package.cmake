# The Windows installer, made with wixl (Debian's msitools) from what the ZIP holds. Two ways in:
#  - cpack runs it after each package (CPACK_POST_BUILD_SCRIPTS); after the ZIP it unpacks that
#    and leaves quarnel-VERSION-win64.msi beside it;
#  - cmake -DMSI_VERSION=2.0.1 -DMSI_SOURCE=DIR -DMSI_OUTPUT=FILE.msi -P cmake/msi_package.cmake
#    packages the files in DIR as that version (the package check builds a "next version" so).

# The product code follows the version: one code per version, the same one each time that version
# is built, so a rebuilt package is still the product that is installed.
function(quarnel_build_msi version source output)
    # wixl runs in the source folder: both are named from where we were started.
    get_filename_component(source ${source} ABSOLUTE)
    get_filename_component(output ${output} ABSOLUTE)
    find_program(WIXL wixl)
    find_program(MSIBUILD msibuild)
    if(NOT WIXL OR NOT MSIBUILD)
        message(FATAL_ERROR "The Windows installer needs wixl and msibuild (Debian packages wixl and msitools)")
    endif()
    string(UUID product_code NAMESPACE 0F6C4D8E-3A2B-4C1D-9E7F-5B8A6D4C2E10 NAME "quarnel-${version}-x64"
           TYPE SHA1 UPPER)
    execute_process(
        COMMAND ${WIXL} -a x64 -D Version=${version} -D "ProductCode={${product_code}}" -D SourceDir=.
                -o ${output} ${CMAKE_CURRENT_LIST_DIR}/quarnel.wxs
        # wixl takes only relative file names.
        WORKING_DIRECTORY ${source}
        RESULT_VARIABLE failed)
    if(failed)
        message(FATAL_ERROR "wixl could not build ${output}")
    endif()
    # wixl knows no component conditions. An extension's default is ours only where no other
    # program holds it, for the user or for the machine (or where an earlier Quarnel set it, which
    # an upgrade keeps).
    foreach(type Grf Gpf)
        string(TOUPPER ${type} upper)
        set(condition "${upper}_USER_HOLDER = \"Quarnel.Archive\" OR (NOT ${upper}_USER_HOLDER AND NOT ${upper}_MACHINE_HOLDER)")
        execute_process(
            COMMAND ${MSIBUILD} ${output} -q "UPDATE `Component` SET `Condition` = '${condition}' WHERE `Component` = '${type}Default'"
            RESULT_VARIABLE failed)
        if(failed)
            message(FATAL_ERROR "msibuild could not set the condition of ${type}Default in ${output}")
        endif()
    endforeach()
    message(STATUS "Windows installer ${output} (product code {${product_code}})")
endfunction()

if(CPACK_GENERATOR)
    if(CPACK_GENERATOR STREQUAL "ZIP")
        foreach(zip IN LISTS CPACK_PACKAGE_FILES)
            # The ZIP is still in cpack's staging folder; cpack copies it to the package folder after.
            get_filename_component(name ${zip} NAME_WLE)
            set(unpacked ${CPACK_TOPLEVEL_DIRECTORY}/msi-source)
            file(REMOVE_RECURSE ${unpacked})
            file(MAKE_DIRECTORY ${unpacked})
            file(ARCHIVE_EXTRACT INPUT ${zip} DESTINATION ${unpacked})
            quarnel_build_msi(${CPACK_PACKAGE_VERSION} ${unpacked}/${name} ${CPACK_PACKAGE_DIRECTORY}/${name}.msi)
        endforeach()
    endif()
else()
    quarnel_build_msi(${MSI_VERSION} ${MSI_SOURCE} ${MSI_OUTPUT})
endif()
