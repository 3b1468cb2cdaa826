# The machine-state check names a changed MSR, a wrong reverse-map table and a wrong heap buffer,
# and every report section's ERROR line counts for the exit status.
add_executable(ccx_machine_state_oracle_tests ${CMAKE_CURRENT_LIST_DIR}/MachineStateTest.cpp)
target_link_libraries(ccx_machine_state_oracle_tests PRIVATE ccx_sim_consumers ccx_tools_report ccx_image
                      GTest::gtest_main)
target_compile_definitions(ccx_machine_state_oracle_tests PRIVATE CCX_MACHINES_DIR="${CMAKE_SOURCE_DIR}/machines")
target_compile_options(ccx_machine_state_oracle_tests PRIVATE -Wall -Wextra -Werror -Wshadow)
set_target_properties(ccx_machine_state_oracle_tests PROPERTIES ENABLE_EXPORTS ON)
gtest_discover_tests(ccx_machine_state_oracle_tests)
