# The firmware image: the driver sources cross-compiled with mingw-w64 into a PE32+ EFI
# boot-service driver. It is a separate CMake build because it uses another compiler.
include(ExternalProject)
ExternalProject_Add(ccx_firmware_image
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/firmware
  BINARY_DIR ${CMAKE_BINARY_DIR}/firmware
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/MingwW64.cmake
    -DCMAKE_BUILD_TYPE=Release
    -DCCX_SOURCE_ROOT=${CMAKE_SOURCE_DIR}
  BUILD_ALWAYS ON
  INSTALL_COMMAND ""
)
set(CCX_FIRMWARE_IMAGE ${CMAKE_BINARY_DIR}/firmware/CcxRellDxe.efi CACHE INTERNAL "")
