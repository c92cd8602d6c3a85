# The scrambled update manifest: SEED, base64, the key material, the manifest document.
# The key source is generated from QUORLA_UPDATE_KEY_FILE at build time, and quorla-pack links
# the same library, so the launcher and the tool always share one key.
set(quorla_update_key_source ${CMAKE_CURRENT_BINARY_DIR}/update_key.cpp)
add_custom_command(
  OUTPUT ${quorla_update_key_source}
  COMMAND ${CMAKE_COMMAND} -DKEY_FILE=${QUORLA_UPDATE_KEY_FILE} -DOUT=${quorla_update_key_source}
          -P ${CMAKE_SOURCE_DIR}/cmake/gen_update_key.cmake
  DEPENDS ${QUORLA_UPDATE_KEY_FILE} ${CMAKE_SOURCE_DIR}/cmake/gen_update_key.cmake
  COMMENT "Generating the update key from ${QUORLA_UPDATE_KEY_FILE}")

# Cipher and key: shared by the launcher and quorla-pack.
add_library(quorla_update_scramble STATIC
  ${CMAKE_CURRENT_SOURCE_DIR}/seed.cpp ${CMAKE_CURRENT_SOURCE_DIR}/scramble.cpp
  ${quorla_update_key_source})

add_library(quorla_update_manifest STATIC ${CMAKE_CURRENT_SOURCE_DIR}/manifest.cpp)
target_link_libraries(quorla_update_manifest PUBLIC quorla_update_scramble quorla_startup quorla_xml
                      quorla_log quorla_text)
target_link_libraries(quorla_update INTERFACE quorla_update_manifest)
