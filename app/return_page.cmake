# Return to the shop page.
add_library(quorla_return_page STATIC ${CMAKE_CURRENT_SOURCE_DIR}/return_page.cpp
            ${CMAKE_CURRENT_SOURCE_DIR}/return_page_posix.cpp)
target_link_libraries(quorla_return_page PUBLIC quorla_text)
quorla_test(return_page_test SOURCES ${CMAKE_CURRENT_SOURCE_DIR}/return_page_test.cpp LIBS quorla_return_page)
