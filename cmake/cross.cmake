# Cross build for the target named by its GNU triplet, with Debian's cross compilers:
#
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/cross.cmake -DQZ_TARGET=i686-w64-mingw32
#
# *-w64-mingw32 builds a Windows console program with MinGW-w64 (g++-mingw-w64-*-posix: the
# -posix thread model is needed for std::mutex, which GoogleTest uses); *-linux-gnu* builds a
# Linux program with <triplet>-g++ (g++-aarch64-linux-gnu, g++-arm-linux-gnueabihf), its
# libraries taken from that architecture's Debian packages (libutf8proc-dev:arm64, after
# dpkg --add-architecture arm64).
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
elseif(QZ_TARGET MATCHES "-linux-gnu")
  set(CMAKE_SYSTEM_NAME Linux)
  set(CMAKE_C_COMPILER ${QZ_TARGET}-gcc)
  set(CMAKE_CXX_COMPILER ${QZ_TARGET}-g++)
  # Multiarch: the target's libraries live in /usr/lib/<multiarch tuple>, where CMake looks by
  # the library architecture, and pkg-config reads the target's .pc files only. The tuple is
  # the compiler's triplet but for i386, whose compiler is named for the i686.
  string(REGEX REPLACE "^i686-" "i386-" multiarch "${QZ_TARGET}")
  set(CMAKE_LIBRARY_ARCHITECTURE ${multiarch})
  if(QZ_SYSROOT)
    # The target's libraries unpacked into a folder of their own (scripts/cross-sysroot.sh)
    # rather than installed beside the machine's.
    list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QZ_SYSROOT)
    set(CMAKE_FIND_ROOT_PATH ${QZ_SYSROOT})
    set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
    set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
    set(CMAKE_CXX_FLAGS_INIT "-isystem ${QZ_SYSROOT}/usr/include")
    # Every program is linked statically as qz is (tests/CMakeLists.txt): the tests run under
    # qemu-user with no loader or C library of the architecture on the machine (with the cross
    # compiler's, found through qemu's -L, a forked test's child hung on i386 before it started
    # qz).
    set(CMAKE_EXE_LINKER_FLAGS_INIT "-L${QZ_SYSROOT}/usr/lib/${multiarch}")
    set(ENV{PKG_CONFIG_LIBDIR} ${QZ_SYSROOT}/usr/lib/${multiarch}/pkgconfig)
    set(ENV{PKG_CONFIG_SYSROOT_DIR} ${QZ_SYSROOT})
  else()
    set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${multiarch}/pkgconfig:/usr/share/pkgconfig)
  endif()
  # ctest runs the target's programs through qemu-user, so the kernel need not know the format
  # (binfmt_misc); a dynamically linked one finds its libraries where multiarch put them.
  # qemu names a few processors its own way.
  set(emulated ${CMAKE_SYSTEM_PROCESSOR})
  if(emulated STREQUAL "i686")
    set(emulated i386)
  elseif(emulated STREQUAL "powerpc64le")
    set(emulated ppc64le)
  endif()
  # QZ_NO_EMULATOR: the machine runs the target's programs itself (i386 on x86-64).
  if(NOT QZ_NO_EMULATOR)
    find_program(QZ_EMULATOR qemu-${emulated})
  endif()
  if(QZ_EMULATOR AND NOT QZ_NO_EMULATOR)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QZ_EMULATOR})
  endif()
else()
  message(FATAL_ERROR "cross.cmake: no cross build for ${QZ_TARGET}")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
