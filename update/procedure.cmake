# The update procedure: manifest, stale files, downloads, extraction, verification, moves.
add_library(quorla_update_procedure STATIC ${CMAKE_CURRENT_SOURCE_DIR}/procedure.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/install_state.cpp)
target_link_libraries(quorla_update_procedure PUBLIC quorla_update_manifest quorla_update_files
                      quorla_startup quorla_inet quorla_host quorla_log)
target_link_libraries(quorla_update INTERFACE quorla_update_procedure)
quorla_test(update_procedure_test
  SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/procedure_test.cpp
  LIBS quorla_update_procedure quorla_update_scramble quorla_update_signature quorla_test_support)
# One case packs with the shop's tool, a POSIX program.
if(TARGET update_procedure_test AND NOT WIN32)
  add_dependencies(update_procedure_test quorla-pack)
endif()
