# The scrambled update manifest: SEED, base64, the key material, the manifest document.
#
# The key source is generated from QUORLA_UPDATE_KEY_FILE at build time, and quorla-pack links
# the same library, so the launcher and the tool always share one key. The generation is this
# very file run as a script: cmake -DKEY_FILE=... -DOUT=... -P manifest.cmake
if(CMAKE_SCRIPT_MODE_FILE)
  file(STRINGS "${KEY_FILE}" lines)
  set(seed "")
  set(bytes "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*$" "" line "${line}")
    if(line MATCHES "^[ \t]*data_key_seed[ \t]*=[ \t]*(0[xX][0-9A-Fa-f]+|[0-9]+)[ \t]*$")
      if(NOT seed STREQUAL "")
        message(FATAL_ERROR "${KEY_FILE}: data_key_seed given twice")
      endif()
      set(seed "${CMAKE_MATCH_1}")
    elseif(line MATCHES "^[ \t]*([0-9A-Fa-f][0-9A-Fa-f][ \t]*)*$")
      string(REGEX MATCHALL "[0-9A-Fa-f][0-9A-Fa-f]" found "${line}")
      list(APPEND bytes ${found})
    else()
      message(FATAL_ERROR "${KEY_FILE}: cannot read line: ${line}")
    endif()
  endforeach()
  list(LENGTH bytes count)
  if(seed STREQUAL "" OR NOT count EQUAL 128)
    message(FATAL_ERROR "${KEY_FILE}: needs data_key_seed and 128 table bytes (found ${count})")
  endif()
  list(TRANSFORM bytes PREPEND "0x")
  list(JOIN bytes ", " table)
  file(WRITE "${OUT}.new"
    "// Generated from ${KEY_FILE}; do not edit.\n#include \"update/scramble.h\"\n\n"
    "const update_key& builtin_update_key() {\n"
    "    static const update_key key{${seed}u, {${table}}};\n    return key;\n}\n")
  execute_process(COMMAND ${CMAKE_COMMAND} -E copy_if_different "${OUT}.new" "${OUT}")
  file(REMOVE "${OUT}.new")
  return()
endif()

set(quorla_update_key_source ${CMAKE_CURRENT_BINARY_DIR}/update_key.cpp)
add_custom_command(
  OUTPUT ${quorla_update_key_source}
  COMMAND ${CMAKE_COMMAND} -DKEY_FILE=${QUORLA_UPDATE_KEY_FILE} -DOUT=${quorla_update_key_source}
          -P ${CMAKE_CURRENT_LIST_FILE}
  DEPENDS ${QUORLA_UPDATE_KEY_FILE} ${CMAKE_CURRENT_LIST_FILE}
  COMMENT "Generating the update key from ${QUORLA_UPDATE_KEY_FILE}")

# Cipher and key: shared by the launcher and quorla-pack.
add_library(quorla_update_scramble STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/seed.cpp ${CMAKE_CURRENT_SOURCE_DIR}/scramble.cpp
  ${quorla_update_key_source})
target_link_libraries(quorla_update_scramble PUBLIC quorla_text)

# Optional manifest signatures (Ed25519 through libcrypto); a key given at build time makes
# them required.
find_package(OpenSSL REQUIRED)
add_library(quorla_update_signature STATIC ${CMAKE_CURRENT_SOURCE_DIR}/signature.cpp)
target_link_libraries(quorla_update_signature PUBLIC quorla_update_scramble PRIVATE quorla_log OpenSSL::Crypto)

add_library(quorla_update_manifest STATIC ${CMAKE_CURRENT_SOURCE_DIR}/manifest.cpp)
target_link_libraries(quorla_update_manifest PUBLIC quorla_update_scramble quorla_update_signature
                      quorla_startup_file quorla_xml quorla_log quorla_text)
target_link_libraries(quorla_update INTERFACE quorla_update_manifest)

quorla_test(update_manifest_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/seed_test.cpp ${CMAKE_CURRENT_SOURCE_DIR}/manifest_test.cpp
          ${CMAKE_CURRENT_SOURCE_DIR}/signature_test.cpp
  LIBS quorla_update_manifest quorla_test_support)
if(TARGET update_manifest_test AND NOT WIN32)
  add_dependencies(update_manifest_test quorla-pack)
  target_compile_definitions(update_manifest_test PRIVATE QUORLA_TEST_PACK_TOOL="$<TARGET_FILE:quorla-pack>")
endif()
quorla_fuzz(manifest_fuzz SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/manifest_fuzz.cpp
            LIBS quorla_update_manifest)
