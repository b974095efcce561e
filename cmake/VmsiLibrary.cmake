include(${CMAKE_CURRENT_LIST_DIR}/VmsiCodeOptions.cmake)
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    # Makes the import libraries that the Microsoft linker takes.
    find_program(VMSI_LLVM_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
endif()

# vmsi_library_code(TARGET): the library's compiler options on the target's
# own sources.
function(vmsi_library_code target)
    target_compile_options(${target} PRIVATE ${VMSI_LIBRARY_COMPILE_OPTIONS})
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        # On 32-bit Windows the DWARF unwind tables serve C++ exceptions only
        # (the system's own stack walks never read them). The linker keeps
        # them whole, and with them every function that they describe.
        target_compile_options(${target} PRIVATE -fno-asynchronous-unwind-tables)
    endif()
    # A function with an array or an address-taken local checks a guard
    # before it returns. The guard and its failure routine are the library's
    # own (frame/stack_protection.cpp), not libssp's, so no runtime DLL and
    # no work under the loader lock come with it.
    target_compile_options(${target} PRIVATE -fstack-protector-strong)
endfunction()

# vmsi_loader_protections(TARGET): the loader's protections, for every image
# that ships (the DLLs and the runner): a base address that moves (ASLR, with
# the 64-bit address space's entropy) and no code run from data pages (DEP);
# ld sets them by default, and saying so keeps them set. On 32-bit Windows,
# NO_SEH: no code of the image installs an exception handler (the library is
# built without exceptions, the runner's C++ exceptions unwind through DWARF
# tables, and ld writes no SafeSEH table), so none found on its stack can be
# the image's, and a forged one is not taken.
function(vmsi_loader_protections target)
    target_link_options(${target} PRIVATE -Wl,--dynamicbase -Wl,--nxcompat)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        target_link_options(${target} PRIVATE -Wl,--no-seh)
    else()
        target_link_options(${target} PRIVATE -Wl,--high-entropy-va)
    endif()
endfunction()

# vmsi_library_dll(TARGET): how every DLL of the library is compiled and
# linked.
function(vmsi_library_dll target)
    vmsi_library_code(${target})
    # Undecorated export names (the def file keeps the @N of each); sections
    # that no export reaches are dropped.
    target_link_options(${target} PRIVATE -Wl,--kill-at -Wl,--gc-sections)
    vmsi_loader_protections(${target})
    # Linked as C, the DLL has no C++ runtime library on its link line: a use
    # of its compiled part (exceptions, streams, threads) fails the link
    # instead of quietly adding its hundreds of kilobytes.
    # frame/runtime_support.cpp has the few pieces that the library's
    # std::string and std::vector call.
    set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C)
endfunction()

# vmsi_version_resource(OUT_VAR NAME FILE_VERSION a.b.c.d PRODUCT_VERSION a.b.c.d
#                       DESCRIPTION text [PROGRAM])
# Writes the version resource of the DLL NAME, or of the program NAME.exe,
# and sets OUT_VAR to its path.
function(vmsi_version_resource out_var name)
    cmake_parse_arguments(ARG "PROGRAM" "FILE_VERSION;PRODUCT_VERSION;DESCRIPTION" "" ${ARGN})
    if(ARG_PROGRAM)
        set(VMSI_RC_FILE_TYPE VFT_APP)
        set(VMSI_RC_FILE_NAME ${name}.exe)
    else()
        set(VMSI_RC_FILE_TYPE VFT_DLL)
        set(VMSI_RC_FILE_NAME ${name}.dll)
    endif()
    string(REPLACE "." "," VMSI_RC_FILE_VERSION ${ARG_FILE_VERSION})
    string(REPLACE "." "," VMSI_RC_PRODUCT_VERSION ${ARG_PRODUCT_VERSION})
    set(VMSI_RC_FILE_VERSION_TEXT ${ARG_FILE_VERSION})
    set(VMSI_RC_PRODUCT_VERSION_TEXT ${ARG_PRODUCT_VERSION})
    set(VMSI_RC_DESCRIPTION ${ARG_DESCRIPTION})
    set(VMSI_RC_NAME ${name})
    configure_file(${PROJECT_SOURCE_DIR}/frame/version.rc.in
                   ${CMAKE_CURRENT_BINARY_DIR}/${name}.rc @ONLY)
    set(${out_var} ${CMAKE_CURRENT_BINARY_DIR}/${name}.rc PARENT_SCOPE)
endfunction()

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
    # ld takes the name that a DLL gives itself in its export table, and
    # dlltool the name of the DLL that an import library loads, from the
    # LIBRARY line of the export list: each DLL links a copy that names it.
    file(READ ${PROJECT_SOURCE_DIR}/${ARG_EXPORTS} listed)
    string(REGEX REPLACE "(^|\n)LIBRARY[^\n]*\n" "\\1" listed "${listed}")
    set(def ${CMAKE_CURRENT_BINARY_DIR}/${name}.def)
    file(GENERATE OUTPUT ${def} CONTENT "LIBRARY ${name}.dll\n${listed}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${ARG_EXPORTS})
    set(sources ${PROJECT_SOURCE_DIR}/frame/library.cpp ${PROJECT_SOURCE_DIR}/${ARG_SINK}
                ${PROJECT_SOURCE_DIR}/frame/runtime_support.cpp ${def})
    foreach(source IN LISTS ARG_SOURCES)
        list(APPEND sources ${PROJECT_SOURCE_DIR}/${source})
    endforeach()
    if(NOT ARG_NO_VERSION_RESOURCE)
        vmsi_version_resource(resource ${name} FILE_VERSION ${ARG_FILE_VERSION}
            PRODUCT_VERSION ${ARG_PRODUCT_VERSION} DESCRIPTION ${ARG_DESCRIPTION})
        list(APPEND sources ${resource})
    endif()
    add_library(${name} SHARED ${sources})
    set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name})
    vmsi_library_dll(${name})
    # Every action object is kept: the export list, not a call, is what uses them.
    target_link_libraries(${name} PRIVATE "$<LINK_LIBRARY:WHOLE_ARCHIVE,vmsi_core>" ${ARG_LIBRARIES})
    if(CMAKE_SIZEOF_VOID_P EQUAL 4)
        # ld's own import library would carry the undecorated names, which a
        # caller compiled against the header (_Name@N) cannot link to. Both
        # import libraries, mingw-w64's and the Microsoft linker's, are made
        # from the export list with --kill-at: the callers' decorated names,
        # the DLL's undecorated ones. dlltool names its symbols and members
        # after the output path, so it is given a bare file name.
        add_custom_command(TARGET ${name} POST_BUILD
            COMMAND ${CMAKE_DLLTOOL} --kill-at --input-def ${def} --output-lib lib${name}.dll.a
            COMMAND ${VMSI_LLVM_DLLTOOL} -m i386 -k -d ${def} -l ${name}.lib
            WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/lib
            VERBATIM)
    endif()
endfunction()

# vmsi_add_empty_library(NAME FILE_VERSION a.b.c.d PRODUCT_VERSION a.b.c.d
#                        DESCRIPTION text)
# A DLL with no code of its own, built like the library's (the same compiler
# and linker options, a version resource of the same form): the floor against
# which the benchmarks weigh the library's load time and size.
function(vmsi_add_empty_library name)
    cmake_parse_arguments(ARG "" "FILE_VERSION;PRODUCT_VERSION;DESCRIPTION" "" ${ARGN})
    vmsi_version_resource(resource ${name} FILE_VERSION ${ARG_FILE_VERSION}
        PRODUCT_VERSION ${ARG_PRODUCT_VERSION} DESCRIPTION ${ARG_DESCRIPTION})
    add_library(${name} SHARED EXCLUDE_FROM_ALL
        ${PROJECT_SOURCE_DIR}/bench/empty_library.cpp ${resource})
    set_target_properties(${name} PROPERTIES PREFIX "" OUTPUT_NAME ${name})
    vmsi_library_dll(${name})
endfunction()
