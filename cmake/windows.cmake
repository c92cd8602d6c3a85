# The Windows build (cross-built with cmake/toolchain-mingw64.cmake, tested under wine). The
# layers join as their Win32 halves are written: the HTTP client with its WinInet half
# (inet/session_wininet.cpp), and with it the parts above that download; the window host,
# the return page, the launcher itself and the sample editor module with theirs.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)

set(quorla_windows_layers text log xml)
if(EXISTS ${CMAKE_SOURCE_DIR}/inet/session_${QUORLA_HTTP_HALF}.cpp)
  list(APPEND quorla_windows_layers inet)
endif()
# The Linux build whose programs (demo shop, quorla-pack, e2e_test) drive the tests under wine.
set(QUORLA_LINUX_BUILD ${CMAKE_SOURCE_DIR}/build CACHE PATH
    "The Linux build whose demo shop, quorla-pack and e2e_test drive the tests under wine")
list(APPEND quorla_windows_layers host startup update module result res app sample_editor tests/support tests/wine)
foreach(dir IN LISTS quorla_windows_layers)
  add_subdirectory(${dir})
endforeach()

# The installer (install/windows/, `make windows-package`) and its tests under wine, once every
# target it may pack exists.
include(${CMAKE_SOURCE_DIR}/install/windows/msi.cmake)
add_subdirectory(tests/install)
