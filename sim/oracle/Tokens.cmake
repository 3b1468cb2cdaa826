# What the end-of-initialization option hook must leave in the configuration token store. The
# platform's boot snapshot runs this check on every boot, so the library stands on the machine
# description and the store's reader alone, beneath the platform.
add_library(ccx_sim_oracle_tokens STATIC ${CMAKE_CURRENT_LIST_DIR}/TokenOracle.cpp)
target_include_directories(ccx_sim_oracle_tokens PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(ccx_sim_oracle_tokens PUBLIC ccx_sim_siblings ccx_sim_machine ccx_sim_oracle_check)
target_compile_options(ccx_sim_oracle_tokens PRIVATE -Wall -Wextra -Werror -Wshadow)
target_link_libraries(ccx_sim_oracle INTERFACE ccx_sim_oracle_tokens)
target_link_libraries(ccx_sim_platform PUBLIC ccx_sim_oracle_tokens)
