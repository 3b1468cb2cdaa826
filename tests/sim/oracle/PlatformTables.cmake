# Each check of the PCCT, HEST and SMBIOS builders fails on a changed answer; clean boots of every
# machine pass.
add_executable(ccx_platform_tables_oracle_tests ${CMAKE_CURRENT_LIST_DIR}/PlatformTablesOracleTest.cpp)
target_link_libraries(ccx_platform_tables_oracle_tests PRIVATE ccx_sim_consumers ccx_image GTest::gtest_main)
target_compile_definitions(ccx_platform_tables_oracle_tests PRIVATE CCX_MACHINES_DIR="${CMAKE_SOURCE_DIR}/machines")
gtest_discover_tests(ccx_platform_tables_oracle_tests DISCOVERY_TIMEOUT 60)
