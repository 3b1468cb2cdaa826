# What the resource affinity services must append (compute-unit runs, caches, TLBs), computed from
# the machine, and the entry-by-entry comparison the resource affinity table's builder runs.
add_library(ccx_sim_oracle_resourceaffinity STATIC
  ${CMAKE_CURRENT_LIST_DIR}/ResourceAffinityWalk.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ResourceAffinityOracle.cpp
  ${CMAKE_CURRENT_LIST_DIR}/ResourceAffinityCheck.cpp)
target_include_directories(ccx_sim_oracle_resourceaffinity PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(ccx_sim_oracle_resourceaffinity PUBLIC ccx_sim_platform ccx_sim_oracle_check ccx_sim_oracle_siblingfaults)
target_compile_options(ccx_sim_oracle_resourceaffinity PRIVATE -Wall -Wextra -Werror -Wshadow)
target_link_libraries(ccx_sim_oracle INTERFACE ccx_sim_oracle_resourceaffinity)
