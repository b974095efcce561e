# The -posix compilers: GoogleTest needs the posix thread model (std::mutex).
set(CMAKE_C_COMPILER ${VMSI_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VMSI_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${VMSI_TRIPLET}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VMSI_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
# Programs built here run under the project's Wine prefix, never ~/.wine.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
set(CMAKE_DLLTOOL ${VMSI_TRIPLET}-dlltool)
set(CMAKE_STRIP ${VMSI_TRIPLET}-strip)
