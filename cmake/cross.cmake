# Cross build for the target named by its GNU triplet, with Debian's cross compilers:
#
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/cross.cmake -DQZ_TARGET=i686-w64-mingw32
#
# *-w64-mingw32 builds a Windows console program with MinGW-w64 (g++-mingw-w64-*-posix: the
# -posix thread model is needed for std::mutex, which GoogleTest uses); *-linux-gnu builds a
# Linux program with <triplet>-g++ (g++-aarch64-linux-gnu), its libraries taken from that
# architecture's Debian packages (libutf8proc-dev:arm64, after dpkg --add-architecture arm64).
if(NOT QZ_TARGET)
  message(FATAL_ERROR "cross.cmake needs the target's triplet: -DQZ_TARGET=<triplet>")
endif()
# CMake reads this file again for each compiler check, where only these variables are passed on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QZ_TARGET)
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "${QZ_TARGET}")

if(QZ_TARGET MATCHES "-w64-mingw32$")
  set(CMAKE_SYSTEM_NAME Windows)
  set(CMAKE_C_COMPILER ${QZ_TARGET}-gcc-posix)
  set(CMAKE_CXX_COMPILER ${QZ_TARGET}-g++-posix)
  set(CMAKE_RC_COMPILER ${QZ_TARGET}-windres)
  # The MinGW-w64 headers and libraries have a root of their own.
  set(CMAKE_FIND_ROOT_PATH /usr/${QZ_TARGET})
  set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
  set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
  # The C and C++ runtimes linked in: the program needs no DLL beyond the system's.
  set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
elseif(QZ_TARGET MATCHES "-linux-gnu$")
  set(CMAKE_SYSTEM_NAME Linux)
  set(CMAKE_C_COMPILER ${QZ_TARGET}-gcc)
  set(CMAKE_CXX_COMPILER ${QZ_TARGET}-g++)
  # Multiarch: the target's libraries live in /usr/lib/<triplet>, where CMake looks by the
  # library architecture, and pkg-config reads the target's .pc files only.
  set(CMAKE_LIBRARY_ARCHITECTURE ${QZ_TARGET})
  set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${QZ_TARGET}/pkgconfig:/usr/share/pkgconfig)
  # ctest runs the target's programs through qemu-user, so the kernel need not know the format
  # (binfmt_misc); a dynamically linked one finds its libraries where multiarch put them.
  find_program(QZ_EMULATOR qemu-${CMAKE_SYSTEM_PROCESSOR})
  if(QZ_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QZ_EMULATOR})
  endif()
else()
  message(FATAL_ERROR "cross.cmake: no cross build for ${QZ_TARGET}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
