# The Windows build (cross-built with cmake/toolchain-mingw64.cmake, tested under wine): the
# layers of cmake/layers.txt marked "windows", with their Win32 halves.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)

# The Linux build whose programs (demo shop, quorla-pack, e2e_test) drive the tests under wine.
set(QUORLA_LINUX_BUILD ${CMAKE_SOURCE_DIR}/build CACHE PATH
    "The Linux build whose demo shop, quorla-pack and e2e_test drive the tests under wine")
quorla_layers(windows quorla_windows_layers)
foreach(dir IN LISTS quorla_windows_layers)
  # The installer (install/windows/, `make windows-package`) and its tests, once every target
  # it may pack exists.
  if(dir STREQUAL "tests/install")
    include(${CMAKE_SOURCE_DIR}/install/windows/msi.cmake)
  endif()
  add_subdirectory(${dir})
endforeach()
