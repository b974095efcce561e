# The compiler options of the library's own code (the core, the start-up and
# the sinks), shared by both cross builds.
#
# Built for size, and without C++ exceptions: nothing in the library throws
# or catches, and without them a DLL needs none of the C++ runtime's
# exception machinery (see frame/runtime_support.cpp). Each function and
# datum gets a section of its own, so that the linker can drop what no export
# reaches.
set(VMSI_LIBRARY_COMPILE_OPTIONS -Os -fno-exceptions -ffunction-sections -fdata-sections)

# The one C++ standard of every build: the library, its tests and tools,
# GoogleTest, and the native fuzz build (scripts/fuzz.sh reads it here).
# C++20: from it on, libstdc++'s std::string is compiled into the code that
# uses it, instead of coming whole, with its exception handling, out of the
# C++ runtime library (which the DLLs do not link).
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
