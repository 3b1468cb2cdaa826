# The resource affinity table's builder reports a wrong field of each entry kind, follows the
# machine's sibling faults, and agrees with the driver on every example machine.
add_executable(ccx_resource_affinity_oracle_tests ${CMAKE_CURRENT_LIST_DIR}/ResourceAffinityOracleTest.cpp)
target_link_libraries(ccx_resource_affinity_oracle_tests PRIVATE ccx_sim_consumers ccx_image GTest::gtest_main)
target_compile_definitions(ccx_resource_affinity_oracle_tests PRIVATE CCX_MACHINES_DIR="${CMAKE_SOURCE_DIR}/machines")
target_compile_options(ccx_resource_affinity_oracle_tests PRIVATE -Wall -Wextra -Werror -Wshadow)
gtest_discover_tests(ccx_resource_affinity_oracle_tests)
