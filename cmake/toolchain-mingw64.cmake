# Cross-build for 64-bit Windows 10 and later with Debian's mingw-w64 compilers (the -posix
# flavour, whose libstdc++ has std::thread and std::mutex). Everything links statically, so the
# .exe and .dll files need no compiler runtime DLLs beside them.
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake \
#         -DQUORLA_WINDOWS_DEPS_PREFIX=$(scripts/windows-deps)
#
# Programs built here run under wine (scripts/wine-run) when CMake or CTest needs to run them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 10.0)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUORLA_MINGW_HOST x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUORLA_MINGW_HOST}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORLA_MINGW_HOST}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORLA_MINGW_HOST}-windres)
set(CMAKE_AR ${QUORLA_MINGW_HOST}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${QUORLA_MINGW_HOST}-ranlib CACHE FILEPATH "")

set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)

# Windows 10 and later.
set(CMAKE_C_FLAGS_INIT "-D_WIN32_WINNT=0x0A00 -DWINVER=0x0A00")
set(CMAKE_CXX_FLAGS_INIT "-D_WIN32_WINNT=0x0A00 -DWINVER=0x0A00")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
endforeach()

# Third-party libraries come from the prefix scripts/windows-deps builds; programs (compilers,
# generators) from the build machine.
set(QUORLA_WINDOWS_DEPS_PREFIX "" CACHE PATH "Prefix with the cross-built third-party libraries")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES QUORLA_WINDOWS_DEPS_PREFIX)
set(CMAKE_FIND_ROOT_PATH /usr/${QUORLA_MINGW_HOST})
if(QUORLA_WINDOWS_DEPS_PREFIX)
  list(PREPEND CMAKE_FIND_ROOT_PATH ${QUORLA_WINDOWS_DEPS_PREFIX})
  set(ENV{PKG_CONFIG_LIBDIR} ${QUORLA_WINDOWS_DEPS_PREFIX}/lib/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "")
  # The libraries there are static: their own dependencies (zlib under minizip, the Windows
  # libraries under libcrypto) must come along.
  set(PKG_CONFIG_ARGN --static)
  set(OPENSSL_USE_STATIC_LIBS TRUE)
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# CMake and CTest run the .exe files through wine, with a wine prefix of this build's own.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run ${CMAKE_BINARY_DIR}/wine)
