# Cross-build for Windows with Debian's mingw-w64, for the architecture in
# ZV_MINGW_ARCH: x86_64 (the default) or i686. The -posix thread model is the
# one whose C++ runtime has std::thread and std::mutex; the runtime is linked
# in statically, so the programs and the DLL need nothing beside them but
# Windows' own libraries.
set(ZV_MINGW_ARCH x86_64 CACHE STRING "The Windows architecture: x86_64 or i686")
if(NOT ZV_MINGW_ARCH MATCHES "^(x86_64|i686)$")
  message(FATAL_ERROR "ZV_MINGW_ARCH is ${ZV_MINGW_ARCH}; x86_64 or i686 are built")
endif()
# The compiler checks run in projects of their own, which see only what is named here.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES ZV_MINGW_ARCH)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${ZV_MINGW_ARCH})

set(CMAKE_C_COMPILER ${ZV_MINGW_ARCH}-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZV_MINGW_ARCH}-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER ${ZV_MINGW_ARCH}-w64-mingw32-windres)
set(ZV_WIDL ${ZV_MINGW_ARCH}-w64-mingw32-widl)

set(CMAKE_FIND_ROOT_PATH /usr/${ZV_MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

if(ZV_MINGW_ARCH STREQUAL i686)
  # A 64-bit time_t, as the 64-bit build has: mingw-w64 gives 32-bit Windows a
  # 32-bit one by default, which ends in 2038 (msvcrt has the 64-bit calls).
  set(CMAKE_C_FLAGS_INIT "-D__MINGW_USE_VC2005_COMPAT")
  set(CMAKE_CXX_FLAGS_INIT "-D__MINGW_USE_VC2005_COMPAT")
  # Tests run under Wine's 32-bit loader (wine32:i386), in a 64-bit prefix as
  # 32-bit programs run on 64-bit Windows.
  find_program(ZV_WINE32 NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
  find_program(ZV_WINE32 NAMES wine)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZV_WINE32})
else()
  # Tests run under Wine's 64-bit loader: Debian's "wine" starts the 32-bit one
  # whenever wine32 is installed, and keeps wine64 outside the PATH.
  find_program(ZV_WINE64 NAMES wine64 PATHS /usr/lib/wine)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${ZV_WINE64})
endif()
