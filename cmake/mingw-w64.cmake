# Cross build for 64-bit Windows with Debian's mingw-w64 (scripts/build-windows.sh):
#   cmake -S . -B build-mingw -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DGLIMRA_WINDOWS_DEPS=DIR
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

# The posix thread model: GoogleTest needs std::mutex, which g++ 12 offers
# only there (package g++-mingw-w64-x86-64-posix).
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# GLIMRA_WINDOWS_DEPS: where scripts/build-windows.sh installed the
# libraries it built from Debian's source packages.
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${GLIMRA_WINDOWS_DEPS})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The runtime libraries linked in: the .exe then runs under wine without
# the mingw DLLs on its path.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# printf and friends from mingw-w64's C99 implementation rather than the
# system's msvcrt: %zu and %lld everywhere, and numbers rounded as glibc
# rounds them, so that both systems print the same.
add_compile_definitions(__USE_MINGW_ANSI_STDIO=1)
