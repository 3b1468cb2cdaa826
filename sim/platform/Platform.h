// One simulated machine, assembled from its description: processors and MP services, devices on
// their buses, the firmware core with its memory, the sibling components, and the hooks that
// connect the driver's hardware accessors to all of it. A platform lives for one boot.
#ifndef SIM_PLATFORM_PLATFORM_H_
#define SIM_PLATFORM_PLATFORM_H_

#include <array>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/cpu/MpServices.h"
#include "sim/cpu/ProcessorSet.h"
#include "sim/devices/DeviceSet.h"
#include "sim/machine/Machine.h"
#include "sim/platform/BootControl.h"
#include "sim/platform/FaultSchedule.h"
#include "sim/platform/HardwareHooks.h"
#include "sim/siblings/FabricServices.h"
#include "sim/siblings/FaultInjector.h"
#include "sim/siblings/OptionService.h"
#include "sim/siblings/PcdDatabase.h"
#include "sim/siblings/SmmSiblings.h"
#include "sim/siblings/MmioRegionServices.h"
#include "sim/siblings/SmuService.h"
#include "sim/siblings/SocService.h"
#include "sim/uefi/UefiCore.h"

namespace sim {

struct PlatformOptions {
  // Where non-volatile variables persist between boots; none keeps them in memory.
  std::optional<std::filesystem::path> VariableFile;
  // Messages of the simulator itself (a failed mapping, an access it refused).
  Diagnostics Notes;
  // Firmware-service failures to inject across the boot; none: every service works. The schedule
  // must outlive the platform.
  FaultSchedule *Schedule = nullptr;
};

// One protocol a sibling component installs: its GUID, its interface and the interface's size.
struct SiblingProtocol {
  const EFI_GUID *Guid = nullptr;
  void *Interface = nullptr;
  size_t Size = 0;
};

class Platform {
 public:
  Platform(const Machine &Description, const PlatformOptions &Options, BootControl &Control);
  ~Platform();
  Platform(const Platform &) = delete;
  Platform &operator=(const Platform &) = delete;

  const Machine &Description() const { return Machine_; }
  UefiCore &Core() { return *Core_; }
  ProcessorSet &Processors() { return *Processors_; }
  MpServices &Mp() { return *Mp_; }
  DeviceSet &Devices() { return *Devices_; }
  PcdDatabase &Pcd() { return Pcd_; }
  FabricServices &Fabric() { return *Fabric_; }
  SmmSiblings &Smm() { return Smm_; }
  FaultInjector &Faults() { return Faults_; }
  OptionService &Options() { return *Options_; }
  HardwareHooks &Hardware() { return *Hardware_; }
  SocService &Soc() { return *Soc_; }
  SmuService &Smu() { return *Smu_; }
  FabricMmioAllocator &MmioAllocator() { return *MmioAllocator_; }
  RegionService &Regions() { return *Regions_; }

  // The protocol(s) of a sibling component (a name of KnownSiblings()); throws
  // std::invalid_argument for a name no sibling has.
  std::vector<SiblingProtocol> SiblingProtocols(const std::string &Name);
  // Installs them.
  void InstallSibling(const std::string &Name);
  // Installs every sibling the machine has at start.
  void InstallStartingSiblings();
  // The siblings that arrive once What (a sibling or a boot phase) has happened, in arrival order,
  // including those that wait for them in turn.
  std::vector<std::string> ArrivalsAfter(const std::string &What) const;

  // Calls a function the driver handed out as data (a callback in a template it returned), as an
  // outside component does: directly in a simulator boot; SetDriverFunctionCaller puts another way
  // in its place (inside real firmware the function runs there).
  using DriverFunctionCaller = std::function<uint64_t(uint64_t Function, const std::array<uint64_t, 10> &Arguments)>;
  uint64_t CallDriverFunction(uint64_t Function, const std::array<uint64_t, 10> &Arguments);
  void SetDriverFunctionCaller(DriverFunctionCaller Caller) { DriverCaller_ = std::move(Caller); }

  // What real firmware shows of its memory while a boot runs inside it: its memory map, the pages
  // the image took and holds, in the order it took them (real firmware may hand pages out of a
  // stretch its map already shows as their type), and whether this process can read an address.
  struct FirmwareView {
    std::function<std::vector<MemoryRange>()> MemoryMap;
    std::function<std::vector<MemoryRange>()> ImagePages;
    std::function<bool(uint64_t Address, uint64_t Length)> Readable;
  };
  void SetFirmwareView(std::optional<FirmwareView> View) { Firmware_ = std::move(View); }
  // The memory map as it is now, the image's pages (none in a simulator boot, whose map shows each
  // allocation) and whether memory can be read: the firmware view's where one is set, else the
  // simulated core's.
  std::vector<MemoryRange> MemoryMapNow();
  std::optional<std::vector<MemoryRange>> ImagePagesNow() const;
  bool MemoryReadable(uint64_t Address, uint64_t Length) const;

  // Ends the boot from the BSP's call chain, as a reset or a halting fatal stop does.
  [[noreturn]] void EndBoot(const BootEnd &End) { Control_.EndFromInside(End); }

  // Builds the HOB list (PHIT, DRAM resources, the SMRAM reservation, the heap HOBs) and
  // publishes it.
  void PublishHobList();
  // The HOBs the machine's earlier phases leave for the driver, as GUID extension HOBs one after
  // another: the SMRAM reservation and the heap buffers made before DXE.
  std::vector<uint8_t> MachineGuidHobs() const;

 private:
  Machine Machine_;
  BootControl &Control_;
  FaultInjector Faults_;
  std::unique_ptr<ProcessorSet> Processors_;
  std::unique_ptr<DeviceSet> Devices_;
  std::unique_ptr<HardwareHooks> Hardware_;
  std::unique_ptr<UefiCore> Core_;
  PcdDatabase Pcd_;
  std::unique_ptr<FabricServices> Fabric_;
  std::unique_ptr<MpServices> Mp_;
  SmmSiblings Smm_;
  uint64_t OcTriggerInterface_ = 0;
  std::unique_ptr<OptionService> Options_;
  std::unique_ptr<SocService> Soc_;
  std::unique_ptr<SmuService> Smu_;
  std::unique_ptr<FabricMmioAllocator> MmioAllocator_;
  std::unique_ptr<RegionService> Regions_;
  DriverFunctionCaller DriverCaller_;
  std::optional<FirmwareView> Firmware_;
};

}  // namespace sim

#endif  // SIM_PLATFORM_PLATFORM_H_
