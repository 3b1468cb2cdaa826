# The firmware images: the driver sources cross-compiled with mingw-w64 into PE32+ EFI
# boot-service drivers, the delivered one and the one with debug output built in. It is a separate
# CMake build because it uses another compiler.
include(ExternalProject)
set(CCX_FIRMWARE_IMAGE ${CMAKE_BINARY_DIR}/firmware/CcxRellDxe.efi CACHE INTERNAL "")
set(CCX_FIRMWARE_DEBUG_IMAGE ${CMAKE_BINARY_DIR}/firmware/CcxRellDxeDebug.efi CACHE INTERNAL "")
set(CCX_OVMF_PLATFORM ${CMAKE_BINARY_DIR}/firmware/CcxOvmfPlatform.efi CACHE INTERNAL "")
ExternalProject_Add(ccx_firmware_image
  SOURCE_DIR ${CMAKE_SOURCE_DIR}/firmware
  BINARY_DIR ${CMAKE_BINARY_DIR}/firmware
  CMAKE_ARGS
    -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/MingwW64.cmake
    -DCMAKE_BUILD_TYPE=Release
    -DCCX_SOURCE_ROOT=${CMAKE_SOURCE_DIR}
  BUILD_ALWAYS ON
  BUILD_BYPRODUCTS ${CCX_FIRMWARE_IMAGE} ${CCX_FIRMWARE_DEBUG_IMAGE} ${CCX_OVMF_PLATFORM}
  INSTALL_COMMAND ""
)
add_subdirectory(${CMAKE_SOURCE_DIR}/tests/firmware ${CMAKE_BINARY_DIR}/tests/firmware)
