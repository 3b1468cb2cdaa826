# The token store check names a changed, dropped or added token, and agrees with the driver's hook
# on every example machine and on machines with unusual option services, stores and items.
add_executable(ccx_token_oracle_tests ${CMAKE_CURRENT_LIST_DIR}/TokensTest.cpp)
target_link_libraries(ccx_token_oracle_tests PRIVATE ccx_sim_consumers ccx_tools_report ccx_image GTest::gtest_main)
target_compile_definitions(ccx_token_oracle_tests PRIVATE CCX_MACHINES_DIR="${CMAKE_SOURCE_DIR}/machines")
target_compile_options(ccx_token_oracle_tests PRIVATE -Wall -Wextra -Werror -Wshadow)
gtest_discover_tests(ccx_token_oracle_tests)
