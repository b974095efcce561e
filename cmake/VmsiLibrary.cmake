# vmsi_add_library(NAME SINK source FILE_VERSION a.b.c.d PRODUCT_VERSION a.b.c.d
#                  DESCRIPTION text [NO_VERSION_RESOURCE]
#                  [EXPORTS def] [SOURCES source...] [LIBRARIES library...])
# One DLL of the library: the core, the start-up, the chosen sink, the export
# list (frame/exports.def unless another is given), any sources and libraries
# of its own, and a version resource of its own numbers.
function(vmsi_add_library name)
    cmake_parse_arguments(ARG "NO_VERSION_RESOURCE"
        "SINK;FILE_VERSION;PRODUCT_VERSION;DESCRIPTION;EXPORTS" "SOURCES;LIBRARIES" ${ARGN})
    if(NOT ARG_EXPORTS)
        set(ARG_EXPORTS frame/exports.def)
    endif()
    set(sources ${PROJECT_SOURCE_DIR}/frame/library.cpp ${PROJECT_SOURCE_DIR}/${ARG_SINK}
                ${PROJECT_SOURCE_DIR}/${ARG_EXPORTS})
    foreach(source IN LISTS ARG_SOURCES)
        list(APPEND sources ${PROJECT_SOURCE_DIR}/${source})
    endforeach()
    if(NOT ARG_NO_VERSION_RESOURCE)
        string(REPLACE "." "," VMSI_RC_FILE_VERSION ${ARG_FILE_VERSION})
        string(REPLACE "." "," VMSI_RC_PRODUCT_VERSION ${ARG_PRODUCT_VERSION})
        set(VMSI_RC_FILE_VERSION_TEXT ${ARG_FILE_VERSION})
        set(VMSI_RC_PRODUCT_VERSION_TEXT ${ARG_PRODUCT_VERSION})
        set(VMSI_RC_DESCRIPTION ${ARG_DESCRIPTION})
        set(VMSI_RC_NAME ${name})
        configure_file(${PROJECT_SOURCE_DIR}/frame/version.rc.in
                       ${CMAKE_CURRENT_BINARY_DIR}/${name}.rc @ONLY)
        list(APPEND sources ${CMAKE_CURRENT_BINARY_DIR}/${name}.rc)
    endif()
    add_library(${name} SHARED ${sources})
    set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name})
    # Every action object is kept: the export list, not a call, is what uses them.
    target_link_libraries(${name} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,vmsi_core>" ${ARG_LIBRARIES})
    # Undecorated export names; the def file keeps the @N of each.
    target_link_options(${name} PRIVATE -Wl,--kill-at)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        # ld's own import library would carry the undecorated names, which a
        # caller compiled against the header (_Name@N) cannot link to.
        add_custom_command(TARGET ${name} POST_BUILD
            COMMAND ${CMAKE_DLLTOOL} --input-def ${PROJECT_SOURCE_DIR}/${ARG_EXPORTS}
                    --dllname ${name}.dll --kill-at
                    --output-lib ${CMAKE_BINARY_DIR}/lib/lib${name}.dll.a
            VERBATIM)
    endif()
endfunction()
