# The scrambled update manifest: SEED, base64, the key material, the manifest document.
#
# The key source is generated from QUORLA_UPDATE_KEY_FILE at build time, and quorla-pack links
# the same library, so the launcher and the tool always share one key. The generation is this
# very file run as a script: cmake -DKEY_FILE=... -DOUT=... -P manifest.cmake

# quorla_read_update_key(FILE SEED_VAR BYTES_VAR ERROR_VAR): the seed and the 128 table bytes
# of a key file, or a reason in ERROR_VAR. The launcher's own reader takes the same format.
function(quorla_read_update_key file seed_var bytes_var error_var)
  set(${error_var} "" PARENT_SCOPE)
  if(NOT EXISTS "${file}" OR IS_DIRECTORY "${file}")
    set(${error_var} "${file}: no such file" PARENT_SCOPE)
    return()
  endif()
  file(STRINGS "${file}" lines)
  set(seed "")
  set(bytes "")
  foreach(line IN LISTS lines)
    string(REGEX REPLACE "#.*$" "" line "${line}")
    if(line MATCHES "^[ \t]*data_key_seed[ \t]*=[ \t]*(0[xX][0-9A-Fa-f]+|[0-9]+)[ \t]*$")
      if(NOT seed STREQUAL "")
        set(${error_var} "${file}: data_key_seed given twice" PARENT_SCOPE)
        return()
      endif()
      set(seed "${CMAKE_MATCH_1}")
      string(LENGTH "${seed}" length)
      if(length GREATER 12)
        set(too_big TRUE)
      else()
        math(EXPR value "${seed}")
        set(too_big FALSE)
        if(value GREATER 4294967295)
          set(too_big TRUE)
        endif()
      endif()
      if(too_big)
        set(${error_var} "${file}: data_key_seed ${seed} does not fit in 32 bits" PARENT_SCOPE)
        return()
      endif()
    elseif(line MATCHES "^[ \t]*([0-9A-Fa-f][0-9A-Fa-f][ \t]*)*$")
      string(REGEX MATCHALL "[0-9A-Fa-f][0-9A-Fa-f]" found "${line}")
      list(APPEND bytes ${found})
    else()
      set(${error_var} "${file}: cannot read line: ${line}" PARENT_SCOPE)
      return()
    endif()
  endforeach()
  list(LENGTH bytes count)
  if(seed STREQUAL "" OR NOT count EQUAL 128)
    set(${error_var} "${file}: needs data_key_seed and 128 table bytes (found ${count})" PARENT_SCOPE)
    return()
  endif()
  set(${seed_var} "${seed}" PARENT_SCOPE)
  set(${bytes_var} "${bytes}" PARENT_SCOPE)
endfunction()

if(CMAKE_SCRIPT_MODE_FILE)
  quorla_read_update_key("${KEY_FILE}" seed bytes error)
  if(error)
    message(FATAL_ERROR "${error}")
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

# A key file that does not read stops the configuration, not the build (or, worse, a
# quorla-pack and a launcher that disagree).
quorla_read_update_key("${QUORLA_UPDATE_KEY_FILE}" quorla_key_seed quorla_key_bytes quorla_key_error)
if(quorla_key_error)
  message(FATAL_ERROR "QUORLA_UPDATE_KEY_FILE: ${quorla_key_error}\n"
                      "Its format is that of res/update-key.txt; `quorla-pack --gen-update-key FILE` makes one.")
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
add_library(quorla_update_signature STATIC ${CMAKE_CURRENT_SOURCE_DIR}/signature.cpp ${CMAKE_CURRENT_SOURCE_DIR}/sha256.cpp)
target_link_libraries(quorla_update_signature PUBLIC quorla_update_scramble quorla_trust_settings PRIVATE quorla_log OpenSSL::Crypto)
# A key that does not decode would leave the launcher accepting unsigned manifests. Two keys
# (";" between them) are the current one and the next while a shop rotates them.
list(LENGTH QUORLA_MANIFEST_PUBLIC_KEY quorla_public_key_count)
if(quorla_public_key_count GREATER 2)
  message(FATAL_ERROR "QUORLA_MANIFEST_PUBLIC_KEY takes at most two keys (the current and the next), "
                      "got ${quorla_public_key_count}")
endif()
foreach(quorla_public_key IN LISTS QUORLA_MANIFEST_PUBLIC_KEY)
  string(REGEX REPLACE "=$" "" quorla_public_key_chars "${quorla_public_key}")
  string(LENGTH "${quorla_public_key_chars}" quorla_public_key_length)
  if(NOT quorla_public_key MATCHES "^[A-Za-z0-9+/]+=?$" OR NOT quorla_public_key_length EQUAL 43)
    message(FATAL_ERROR "QUORLA_MANIFEST_PUBLIC_KEY must be 32-byte Ed25519 public keys in base64 (44 "
                        "characters each, as `quorla-pack --gen-key FILE` prints them), got: '${quorla_public_key}'")
  endif()
endforeach()

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
