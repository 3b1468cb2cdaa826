# The sources of the driver image, shared by every host image and by the firmware image. Host
# builds add the arch/host back-end; the firmware build adds arch/x64.
set(CCX_DRIVER_SOURCES
  arch/Memory.cpp
  arch/WidthAccess.cpp
  arch/BootPool.cpp
  interfaces/PcdAccess.cpp
  driver/ImageState.cpp
  driver/DriverEntry.cpp
  driver/LibraryStartup.cpp
  driver/CfgPcdBuf.cpp
  driver/CcxRellDxeInit.cpp
  driver/ProcessorFamily.cpp
  driver/Heap.cpp
  driver/HobList.cpp
  driver/S3SaveLib.cpp
  driver/S3SaveHandOff.cpp
  driver/SnpRmp.cpp
  driver/MpServicesWork.cpp
  driver/RunOnAps.cpp
  driver/BootEvents.cpp
  driver/ImageDescriptor.cpp
  services/ServiceProtocols.cpp
  services/AddressInfo.cpp
  services/SmmAccess2.cpp
  services/SmmRangeProcedures.cpp
  services/HcuMailbox.cpp
  options/OptionHooks.cpp
  options/HookTable.cpp
  options/OptionHandlers.cpp
  options/TokenStore.cpp
  options/CustomPstate0.cpp
  options/OptionTable.cpp
  options/NvTableWalk.cpp
  services/TopologyWalk.cpp
  services/PstateFrequency.cpp
  services/PciSegment.cpp
  services/Sideband.cpp
  services/FabricRegisters.cpp
  services/ApicId.cpp
  services/AcpiServices.cpp
  services/PcctServices.cpp
  services/McaServices.cpp
  services/SmbiosServices.cpp
  services/SmbiosCoreCount.cpp
  services/SmbiosCacheInfo.cpp
  services/SratServices.cpp
  services/CppcServices.cpp
  services/CppcTemplate.cpp
  services/ResourceAffinityEntries.cpp
  services/ResourceAffinitySharing.cpp
  services/ResourceAffinityComputeUnits.cpp
  services/ResourceAffinityCaches.cpp
  services/ResourceAffinityTlbs.cpp
  debug/DebugOutput.cpp
  debug/DebugBackendList.cpp
  debug/PortCaptureBackend.cpp
  debug/UartBackend.cpp
  debug/LegacySerialBackend.cpp
  debug/Formatter.cpp
  debug/FormatterItem.cpp
  debug/StatusNames.cpp
  debug/TestPoint.cpp
  debug/FatalStop.cpp
)
set(CCX_DRIVER_HOST_SOURCES arch/host/ProcessorHost.cpp)
set(CCX_DRIVER_FIRMWARE_SOURCES arch/x64/ProcessorX64.cpp arch/x64/CompilerSupport.cpp driver/FirmwareEntry.cpp)

# Driver code is firmware code: no exceptions, no RTTI, no thread-safe statics, warnings are errors.
set(CCX_DRIVER_WARNINGS -Wall -Wextra -Werror -Wshadow -Wno-unused-parameter)
set(CCX_DRIVER_FLAGS -fno-exceptions -fno-rtti -fno-threadsafe-statics -ffreestanding)
