# Return to the shop page.
add_library(quorla_return_page STATIC ${CMAKE_CURRENT_SOURCE_DIR}/return_page.cpp)
quorla_os_sources(quorla_return_page return_page)
target_link_libraries(quorla_return_page PUBLIC quorla_inet quorla_log quorla_text)
quorla_test(return_page_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/return_page_test.cpp LIBS quorla_return_page)
