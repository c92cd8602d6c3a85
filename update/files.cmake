# Folder and file helpers, MD5, PE file version, zip and cabinet extraction.
pkg_check_modules(QUORLA_MINIZIP REQUIRED IMPORTED_TARGET minizip)
pkg_check_modules(QUORLA_MSPACK REQUIRED IMPORTED_TARGET libmspack)
find_package(ZLIB REQUIRED)

add_library(quorla_update_files STATIC
  files.cpp files_posix.cpp md5.cpp pe_version.cpp
  archive_names.cpp archive_zip.cpp archive_cab.cpp archive_cab_mspack.cpp)
target_link_libraries(quorla_update_files
  PUBLIC quorla_log
  PRIVATE PkgConfig::QUORLA_MINIZIP PkgConfig::QUORLA_MSPACK ZLIB::ZLIB)
target_link_libraries(quorla_update INTERFACE quorla_update_files)

if(QUORLA_BUILD_TESTS)
  quorla_test(update_files_test
    SOURCES files_test.cpp md5_test.cpp pe_version_test.cpp archive_test.cpp
      fuzz_regression_test.cpp fuzz_checks.cpp
    LIBS quorla_update_files quorla_test_support)
endif()

quorla_fuzz(zip_name_fuzz SOURCES zip_name_fuzz.cpp fuzz_checks.cpp LIBS quorla_update_files)
quorla_fuzz(pe_version_fuzz SOURCES pe_version_fuzz.cpp fuzz_checks.cpp LIBS quorla_update_files)
quorla_fuzz(archive_open_fuzz SOURCES archive_open_fuzz.cpp fuzz_checks.cpp LIBS quorla_update_files)
