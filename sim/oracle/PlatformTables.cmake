# What the PCC subspace, machine-check bank and SMBIOS processor and cache services must answer.
add_library(ccx_sim_oracle_platformtables STATIC ${CMAKE_CURRENT_LIST_DIR}/SmbiosOracle.cpp
            ${CMAKE_CURRENT_LIST_DIR}/PcctHestOracle.cpp)
target_include_directories(ccx_sim_oracle_platformtables PUBLIC ${CMAKE_SOURCE_DIR})
# P-state 0's frequency and voltage come from the P-state oracle of the ACPI processor services.
target_link_libraries(ccx_sim_oracle_platformtables PUBLIC ccx_sim_platform ccx_sim_oracle_check
                      ccx_sim_oracle_processordata ccx_sim_oracle_siblingfaults)
target_compile_options(ccx_sim_oracle_platformtables PRIVATE -Wall -Wextra -Werror -Wshadow)
target_link_libraries(ccx_sim_oracle INTERFACE ccx_sim_oracle_platformtables)
