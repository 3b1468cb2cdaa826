# What the machine must hold once a boot is over: MSRs on every processor, the reverse-map table,
# the heap buffers, configuration items, protocols, events and variable the driver leaves.
add_library(ccx_sim_oracle_machinestate STATIC ${CMAKE_CURRENT_LIST_DIR}/MachineStateOracle.cpp
            ${CMAKE_CURRENT_LIST_DIR}/MsrStateOracle.cpp
            ${CMAKE_CURRENT_LIST_DIR}/MemoryStateOracle.cpp ${CMAKE_CURRENT_LIST_DIR}/ItemStateOracle.cpp
            ${CMAKE_CURRENT_LIST_DIR}/EventStateOracle.cpp ${CMAKE_CURRENT_LIST_DIR}/S3StateOracle.cpp)
target_include_directories(ccx_sim_oracle_machinestate PUBLIC ${CMAKE_SOURCE_DIR})
# P-state 0 after the custom P-state comes from the P-state oracle of the ACPI processor services,
# the PCC region and its MTRR pair from the PCC subspace oracle.
target_link_libraries(ccx_sim_oracle_machinestate PUBLIC ccx_sim_platform ccx_sim_oracle_check
                      ccx_sim_oracle_processordata ccx_sim_oracle_platformtables)
target_compile_options(ccx_sim_oracle_machinestate PRIVATE -Wall -Wextra -Werror -Wshadow)
target_link_libraries(ccx_sim_oracle INTERFACE ccx_sim_oracle_machinestate)
