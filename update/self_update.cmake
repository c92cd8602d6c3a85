# The launcher's own version and release folder (generated), the signed release document
# shared with quorla-pack, and the self-update stage with its platform half.
add_library(quorla_launcher_identity STATIC ${QUORLA_CONFIG_DIR}/launcher_identity.cpp)
target_link_libraries(quorla_launcher_identity PUBLIC quorla_text)

add_library(quorla_launcher_release STATIC ${CMAKE_CURRENT_SOURCE_DIR}/launcher_release.cpp)
target_link_libraries(quorla_launcher_release PUBLIC quorla_update_signature quorla_update_scramble quorla_xml
                      quorla_text PRIVATE OpenSSL::Crypto)

add_library(quorla_self_update STATIC ${CMAKE_CURRENT_SOURCE_DIR}/self_update.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/self_update_settings.cpp)
quorla_os_sources(quorla_self_update self_update)
target_link_libraries(quorla_self_update PUBLIC quorla_launcher_release quorla_launcher_identity quorla_update_files
                      quorla_inet quorla_log)
if(WIN32)
  target_link_libraries(quorla_self_update PRIVATE wintrust crypt32 ole32)
endif()
target_link_libraries(quorla_update INTERFACE quorla_self_update)

# The Windows half installs what it finds; under wine it is tested end to end (self_update in
# tests/install).
if(NOT WIN32)
  quorla_test(self_update_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/self_update_test.cpp
    LIBS quorla_self_update quorla_test_support)
  if(TARGET self_update_test)
    add_dependencies(self_update_test quorla-pack)
    target_compile_definitions(self_update_test PRIVATE QUORLA_TEST_PACK_TOOL="$<TARGET_FILE:quorla-pack>")
  endif()
endif()
