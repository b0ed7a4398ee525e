# The folder rules, stated by the build: a folder's target publishes its own headers and no
# others. quarnel_folder_headers(name folder) makes the interface target `name`, whose include
# directory holds one link, to `folder`, so its users write "folder/x.h" as before but see only
# the folders of the targets they link: an archive/ file that includes "worker/..." does not
# compile. (Nothing adds the checkout's root as an include directory.)
function(quarnel_folder_headers name folder)
    string(REPLACE "/" "_" stage_name "${folder}")
    set(stage ${PROJECT_BINARY_DIR}/folder-headers/${stage_name})
    get_filename_component(parent ${stage}/${folder} DIRECTORY)
    file(MAKE_DIRECTORY ${parent})
    file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${stage}/${folder} SYMBOLIC)
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${stage})
endfunction()
