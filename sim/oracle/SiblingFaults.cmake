# Which sibling queries an injected fault makes fail, for every expectation that depends on them.
add_library(ccx_sim_oracle_siblingfaults STATIC ${CMAKE_CURRENT_LIST_DIR}/SiblingFaults.cpp)
target_include_directories(ccx_sim_oracle_siblingfaults PUBLIC ${CMAKE_SOURCE_DIR})
target_link_libraries(ccx_sim_oracle_siblingfaults PUBLIC ccx_sim_platform)
target_compile_options(ccx_sim_oracle_siblingfaults PRIVATE -Wall -Wextra -Werror -Wshadow)
