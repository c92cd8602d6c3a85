# Return to the shop page.
add_library(quorla_return_page STATIC ${CMAKE_CURRENT_SOURCE_DIR}/return_page.cpp)
quorla_os_sources(quorla_return_page return_page)
target_link_libraries(quorla_return_page PUBLIC quorla_inet quorla_log quorla_text)
quorla_test(return_page_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/return_page_test.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/return_page_${QUORLA_PLATFORM}_test.cpp LIBS quorla_return_page)
if(WIN32 AND TARGET return_page_test)
  # The stand-in browser the tests start through the shell, beside the test.
  add_executable(return_page_recorder WIN32 ${CMAKE_CURRENT_SOURCE_DIR}/return_page_recorder_win.cpp)
  target_link_options(return_page_recorder PRIVATE -municode)
  set_target_properties(return_page_recorder PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_dependencies(return_page_test return_page_recorder)
endif()
