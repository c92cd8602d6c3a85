# The Windows build (cross-built with cmake/toolchain-mingw64.cmake, tested under wine). Only
# the layers that have their Win32 halves so far are built; the rest join as theirs are written.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX)

foreach(dir text log inet tests/support)
  add_subdirectory(${dir})
endforeach()
