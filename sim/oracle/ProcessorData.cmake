# What the ACPI processor services, the SRAT processor entries and the CPPC template must answer.
add_library(ccx_sim_oracle_processordata STATIC
            ${CMAKE_CURRENT_LIST_DIR}/AcpiProcessorPstates.cpp ${CMAKE_CURRENT_LIST_DIR}/AcpiProcessorOracle.cpp
            ${CMAKE_CURRENT_LIST_DIR}/SratOracle.cpp ${CMAKE_CURRENT_LIST_DIR}/CppcOracle.cpp)
target_include_directories(ccx_sim_oracle_processordata PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(ccx_sim_oracle_processordata PUBLIC ccx_sim_platform ccx_sim_oracle_check ccx_sim_oracle_siblingfaults
                      ccx_sim_oracle_resourceaffinity)
target_compile_options(ccx_sim_oracle_processordata PRIVATE -Wall -Wextra -Werror -Wshadow)
target_link_libraries(ccx_sim_oracle INTERFACE ccx_sim_oracle_processordata)
