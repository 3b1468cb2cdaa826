# ccx_add_driver_image(<target> <namespace> <debug-output ON|OFF>)
# Builds the driver sources as one loadable image for the host: its globals live in <namespace>,
# and the debug-output switch is the build-time constant linked into it.
function(ccx_add_driver_image TARGET NAMESPACE DEBUG_OUTPUT)
  if(DEBUG_OUTPUT)
    set(SWITCH debug/DebugOutputOn.cpp)
  else()
    set(SWITCH debug/DebugOutputOff.cpp)
  endif()
  add_library(${TARGET} STATIC ${CCX_DRIVER_SOURCES} ${CCX_DRIVER_HOST_SOURCES} ${SWITCH})
  target_compile_definitions(${TARGET} PRIVATE CCX_IMAGE_NAMESPACE=${NAMESPACE})
  target_compile_options(${TARGET} PRIVATE ${CCX_DRIVER_WARNINGS} ${CCX_DRIVER_FLAGS})
  target_link_libraries(${TARGET} PUBLIC ccx_uefi ccx_arch_host_hooks)
endfunction()
