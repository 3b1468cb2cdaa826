# Each check of the ACPI processor-object, SRAT and _CPC builders fails on a changed answer; the
# P-state figures are the registers' own. Clean boots of every machine are the ccxsim tests of
# tests/sim/consumers (no ERROR line on any of machines/*.json).
add_executable(ccx_processor_data_oracle_tests ${CMAKE_CURRENT_LIST_DIR}/ProcessorDataTest.cpp)
target_link_libraries(ccx_processor_data_oracle_tests PRIVATE ccx_sim_consumers ccx_image GTest::gtest_main)
target_compile_definitions(ccx_processor_data_oracle_tests PRIVATE CCX_MACHINES_DIR="${CMAKE_SOURCE_DIR}/machines")
gtest_discover_tests(ccx_processor_data_oracle_tests DISCOVERY_TIMEOUT 60)
