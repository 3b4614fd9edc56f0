# Hardening of optimised builds (Release, RelWithDebInfo, MinSizeRel) with GCC or clang:
# position-independent executables, full RELRO with immediate binding, the strong stack
# protector, _FORTIFY_SOURCE=2 and, where the compiler offers them, stack-clash and control-flow
# protection, as Debian's own hardening flags do. Windows programs get ASLR (dynamic base,
# high-entropy addresses on x86_64) and DEP (NX compatible) instead; MinGW's stack protector and
# fortify need a runtime DLL the program does not ship. Debug builds (and so the sanitizer and
# fuzz builds) stay unhardened: _FORTIFY_SOURCE needs optimisation.
#
# A Debian package build configures with CMAKE_BUILD_TYPE=None and takes the same flags from
# dpkg-buildflags instead.
include(CheckCXXCompilerFlag)
include(CheckPIESupported)

set(QZ_HARDENED_BUILD_TYPES Release RelWithDebInfo MinSizeRel)
if(NOT QZ_HARDEN OR NOT CMAKE_BUILD_TYPE IN_LIST QZ_HARDENED_BUILD_TYPES OR QZ_SANITIZE OR
   NOT CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
  return()
endif()

if(WIN32)
  add_link_options(-Wl,--dynamicbase -Wl,--nxcompat)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    add_link_options(-Wl,--high-entropy-va)
  endif()
  return()
endif()

check_pie_supported(LANGUAGES CXX)
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

# -U first: a compiler that defines _FORTIFY_SOURCE itself would otherwise warn of a redefinition.
add_compile_options(-U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2 -fstack-protector-strong)
foreach(flag -fstack-clash-protection -fcf-protection)
  string(MAKE_C_IDENTIFIER "QZ_HAS${flag}" result)
  check_cxx_compiler_flag(${flag} ${result})
  if(${result})
    add_compile_options(${flag})
  endif()
endforeach()
add_link_options(-Wl,-z,relro -Wl,-z,now)
