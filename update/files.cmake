# Folder and file helpers, MD5, PE file version, zip and cabinet extraction.
pkg_check_modules(QUORLA_MINIZIP REQUIRED IMPORTED_TARGET minizip)
if(QUORLA_CABINET_HALF STREQUAL "mspack")
  pkg_check_modules(QUORLA_MSPACK REQUIRED IMPORTED_TARGET libmspack)
  set(quorla_cabinet_libs PkgConfig::QUORLA_MSPACK)
else()
  set(quorla_cabinet_libs setupapi)
endif()
find_package(ZLIB REQUIRED)

# The vector MD5 cores exist for x86; other processors digest one file after another.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i[3-6]86|x86)$")
  set(QUORLA_MD5_LANES md5_lanes_x86.cpp)
  set(md5_lanes_options "")
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC 12's own AVX-512 gather and rotate intrinsics start from an "undefined" register,
    # which its flow analysis then reports as maybe uninitialized.
    list(APPEND md5_lanes_options -Wno-maybe-uninitialized)
  endif()
  if(MINGW)
    # GCC on Windows does not align the stack for the 32- and 64-byte vectors it spills; the
    # assembler then keeps those moves unaligned so they cannot fault.
    list(APPEND md5_lanes_options -Wa,-muse-unaligned-vector-move)
  endif()
  set_source_files_properties(md5_lanes_x86.cpp PROPERTIES COMPILE_OPTIONS "${md5_lanes_options}")
else()
  set(QUORLA_MD5_LANES md5_lanes_generic.cpp)
endif()
add_library(quorla_update_files STATIC
  files.cpp md5.cpp ${QUORLA_MD5_LANES} pe_version.cpp archive_names.cpp archive_zip.cpp archive_cab.cpp)
quorla_os_sources(quorla_update_files zip_io)
quorla_os_sources(quorla_update_files HALF ${QUORLA_CABINET_HALF} archive_cab)
target_link_libraries(quorla_update_files
  PUBLIC quorla_log quorla_os quorla_text
  PRIVATE PkgConfig::QUORLA_MINIZIP ${quorla_cabinet_libs} ZLIB::ZLIB)
target_link_libraries(quorla_update INTERFACE quorla_update_files)

if(QUORLA_BUILD_TESTS)
  quorla_test(update_files_test
    SOURCES files_test.cpp files_${QUORLA_PLATFORM}_test.cpp md5_test.cpp pe_version_test.cpp archive_test.cpp
      archive_${QUORLA_PLATFORM}_test.cpp fuzz_regression_test.cpp fuzz_checks.cpp
    LIBS quorla_update_files quorla_test_support)
  if(WIN32)
    # The portable version reader is checked against the system's own, on the test images
    # and the test modules.
    target_sources(update_files_test PRIVATE pe_version_win_test.cpp)
    target_link_libraries(update_files_test PRIVATE version)
  endif()
endif()

quorla_fuzz(zip_name_fuzz SOURCES zip_name_fuzz.cpp fuzz_checks.cpp LIBS quorla_update_files)
quorla_fuzz(pe_version_fuzz SOURCES pe_version_fuzz.cpp fuzz_checks.cpp LIBS quorla_update_files)
quorla_fuzz(archive_open_fuzz SOURCES archive_open_fuzz.cpp fuzz_checks.cpp LIBS quorla_update_files)
