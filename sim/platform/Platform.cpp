#include "sim/platform/Platform.h"

#include <cstring>
#include <stdexcept>

#include "sim/platform/ProcessorRegisters.h"
#include "sim/platform/S3TokensPlatform.h"
#include "sim/uefi/HobListBuilder.h"
#include "uefi/Hob.h"

#include "interfaces/QorvexGuids.h"
#include "uefi/StandardGuids.h"

namespace sim {
namespace {

DeviceSetConfig DevicesFor(const Machine &Description) {
  DeviceSetConfig Config;
  Config.Coprocessor.Present = Description.Coprocessor.Present;
  Config.Coprocessor.MmioBase = Description.Coprocessor.MmioBase;
  Config.Coprocessor.SidebandBlock = Description.Coprocessor.SidebandBlock;
  Config.Coprocessor.MailboxOffset = Description.Coprocessor.MailboxOffset;
  ConfigureProcessorDevices(Description, Config);
  return Config;
}

// A heap HOB's data: the buffer header (signature, handle, size, persistence, valid flag and two
// reserved bytes), then the buffer's bytes.
std::vector<uint8_t> HeapHobData(const HeapHobRecord &Record) {
  const uint32_t Size = Record.Size.value_or(static_cast<uint32_t>(Record.Data.size()));
  std::vector<uint8_t> Bytes(16, 0);
  std::memcpy(&Bytes[0], &Record.Signature, 4);
  std::memcpy(&Bytes[4], &Record.Handle, 4);
  std::memcpy(&Bytes[8], &Size, 4);
  Bytes[12] = Record.Persistence;
  Bytes[13] = Record.Valid;
  Bytes.insert(Bytes.end(), Record.Data.begin(), Record.Data.end());
  return Bytes;
}

}  // namespace

Platform::Platform(const Machine &Description, const PlatformOptions &Options, BootControl &Control)
    : Machine_(Description), Control_(Control), Faults_(Description.Faults) {
  Processors_ = std::make_unique<ProcessorSet>(Machine_.Shape, Machine_.Processors);
  Devices_ = std::make_unique<DeviceSet>(DevicesFor(Machine_));
  PresetProcessorRegisters(Machine_, *Processors_, *Devices_);
  Hardware_ = std::make_unique<HardwareHooks>(*Processors_, *Devices_, Machine_.SimulationBackdoor);
  if (Machine_.Coprocessor.Present && Machine_.Coprocessor.Contends) {
    Devices_->Coprocessor().SetLockSchedule(Machine_.Coprocessor.Seed, Machine_.Coprocessor.HoldPolls);
  }
  Hardware_->OnHalt([this](uint32_t Code) {
    Control_.EndFromInside({BootEnd::FatalHalt, Code, "halted in a fatal stop"});
  });

  UefiCoreOptions CoreOptions;
  CoreOptions.dram = Machine_.Dram;
  if (Options.Notes) CoreOptions.diagnostics = Options.Notes;
  CoreOptions.variableFile = Options.VariableFile;
  if (Options.Schedule != nullptr) {
    CoreOptions.faults = [Schedule = Options.Schedule](FaultSite Site, const EFI_GUID *Guid) {
      return Schedule->Check(Site, Guid);
    };
  }
  CoreOptions.onReset = [this](EFI_RESET_TYPE Type) {
    Control_.EndFromInside({BootEnd::Reset, static_cast<uint64_t>(Type), "ResetSystem"});
  };
  Core_ = std::make_unique<UefiCore>(std::move(CoreOptions));

  // Simulated DRAM answers the MMIO addresses no device claims, when the page is mapped.
  Devices_->Mmio().SetMemoryFallback([this](MmioBus::AccessKind Kind, uint64_t Address, unsigned Width,
                                            uint64_t &Value) {
    if (!Core_->Memory().IsMapped(Address, Width)) return false;
    auto *Bytes = reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(Address));
    if (Kind == MmioBus::AccessKind::Read) {
      Value = 0;
      for (unsigned Index = 0; Index < Width; Index++) Value |= uint64_t(Bytes[Index]) << (8 * Index);
    } else {
      for (unsigned Index = 0; Index < Width; Index++) Bytes[Index] = uint8_t(Value >> (8 * Index));
    }
    return true;
  });

  for (const auto &[Token, Value] : Machine_.Pcd) Pcd_.Set(Token, Value);
  Pcd_.Activate();
  Fabric_ = std::make_unique<FabricServices>(Machine_.Shape, Faults_);
  for (const ComplexDomain &Domain : Machine_.NumaDomains) {
    TopologyPosition Complex;
    Complex.Socket = Domain.Socket;
    Complex.Die = Domain.Die;
    Complex.ComplexDie = Domain.ComplexDie;
    Complex.Complex = Domain.Complex;
    Fabric_->SetProximityDomain(Complex, Domain.Domain);
  }
  Mp_ = std::make_unique<MpServices>(*Processors_);
  Hardware_->Accounting().TakeDispatchesFrom(*Mp_);
  if (Options.Schedule != nullptr) {
    Mp_->SetStartFault([Schedule = Options.Schedule] { return Schedule->Check(FaultSite::MpStart, nullptr); });
  }
  Options_ = std::make_unique<OptionService>(Machine_.Options, Faults_);
  Soc_ = std::make_unique<SocService>(Machine_.Shape, Machine_.Soc, Faults_);
  Smu_ = std::make_unique<SmuService>(Machine_.Smu, Faults_);
  MmioAllocator_ = std::make_unique<FabricMmioAllocator>(Machine_.MmioPool.Base, Machine_.MmioPool.Size, Faults_);
  Regions_ = std::make_unique<RegionService>(Faults_);
  // The token-store owner hands its store over in a heap HOB, as every buffer made before DXE is.
  if (auto Hob = TokenStoreHob(Machine_.TokenStore)) Machine_.HeapHobs.push_back(*Hob);
  PrepareS3Platform(*this);
}

Platform::~Platform() = default;

namespace {

template <typename Interface>
SiblingProtocol Offered(const EFI_GUID &Guid, Interface *Pointer) {
  return {&Guid, Pointer, sizeof(Interface)};
}

}  // namespace

std::vector<SiblingProtocol> Platform::SiblingProtocols(const std::string &Name) {
  if (Name == "pcd") return {Offered(gPcdProtocolGuid, Pcd_.Protocol()), Offered(gEfiPcdProtocolGuid, Pcd_.PiProtocol())};
  if (Name == "fabric_topology") return {Offered(gQorvexFabricTopologyServicesProtocolGuid, Fabric_->TopologyProtocol())};
  if (Name == "fabric_numa") return {Offered(gQorvexFabricNumaServicesProtocolGuid, Fabric_->NumaProtocol())};
  if (Name == "fabric_system") return {Offered(gQorvexFabricSystemServicesProtocolGuid, Fabric_->SystemProtocol())};
  if (Name == "core_topology") {
    return {Offered(gQorvexCoreTopologyServicesProtocolGuid, Fabric_->CoreTopologyProtocol())};
  }
  if (Name == "core_topology_v2") {
    return {Offered(gQorvexCoreTopologyServicesV2ProtocolGuid, Fabric_->CoreTopologyV2Protocol())};
  }
  if (Name == "mp_services") return {Offered(gEfiMpServiceProtocolGuid, Mp_->Protocol())};
  // The variable architectural protocols carry no interface; their presence is the message.
  if (Name == "variable_write") return {{&gEfiVariableArchProtocolGuid, nullptr, 0}, {&gEfiVariableWriteArchProtocolGuid, nullptr, 0}};
  if (Name == "oc_trigger") return {Offered(gQorvexCcxOcTriggerProtocolGuid, &OcTriggerInterface_)};
  if (Name == "smm_control") return {Offered(gEfiSmmControl2ProtocolGuid, Smm_.Control())};
  if (Name == "smm_communication") return {Offered(gEfiSmmCommunicationProtocolGuid, Smm_.Communication())};
  if (Name == "option_hook") return {Offered(gQorvexZrbOptionHookProtocolGuid, Options_->Protocol())};
  if (Name == "soc") return {Offered(gQorvexSocServicesProtocolGuid, Soc_->Protocol())};
  if (Name == "smu") return {Offered(gQorvexSmuServicesProtocolGuid, Smu_->Protocol())};
  if (Name == "fabric_mmio") return {Offered(gQorvexFabricMmioAllocatorProtocolGuid, MmioAllocator_->Protocol())};
  if (Name == "region") return {Offered(gQorvexRegionServicesProtocolGuid, Regions_->Protocol())};
  throw std::invalid_argument("no simulated sibling component named \"" + Name + "\"");
}

void Platform::InstallSibling(const std::string &Name) {
  for (const SiblingProtocol &Protocol : SiblingProtocols(Name)) {
    EFI_HANDLE Handle = nullptr;
    const EFI_STATUS Status = Core_->InstallProtocol(Handle, *Protocol.Guid, Protocol.Interface);
    if (EFI_ERROR(Status)) throw std::runtime_error("installing sibling \"" + Name + "\" failed");
  }
}

uint64_t Platform::CallDriverFunction(uint64_t Function, const std::array<uint64_t, 10> &Arguments) {
  if (DriverCaller_) return DriverCaller_(Function, Arguments);
  using Callee = uint64_t(EFIAPI *)(uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t, uint64_t,
                                    uint64_t, uint64_t);
  return reinterpret_cast<Callee>(Function)(Arguments[0], Arguments[1], Arguments[2], Arguments[3], Arguments[4],
                                            Arguments[5], Arguments[6], Arguments[7], Arguments[8], Arguments[9]);
}

std::vector<MemoryRange> Platform::MemoryMapNow() { return Firmware_ ? Firmware_->MemoryMap() : Core_->Memory().Map(); }

std::optional<std::vector<MemoryRange>> Platform::ImagePagesNow() const {
  if (!Firmware_) return std::nullopt;
  return Firmware_->ImagePages();
}

bool Platform::MemoryReadable(uint64_t Address, uint64_t Length) const {
  return Firmware_ ? Firmware_->Readable(Address, Length) : Core_->Memory().IsMapped(Address, Length);
}

void Platform::InstallStartingSiblings() {
  for (const std::string &Name : KnownSiblings()) {
    if (Machine_.SiblingAtStart(Name)) InstallSibling(Name);
  }
}

std::vector<std::string> Platform::ArrivalsAfter(const std::string &What) const {
  std::vector<std::string> Order;
  std::vector<std::string> Pending = {What};
  while (!Pending.empty()) {
    const std::string Done = Pending.front();
    Pending.erase(Pending.begin());
    for (const auto &[Name, Arrival] : Machine_.Siblings) {
      if (Arrival.When == SiblingArrival::After && Arrival.AfterWhat == Done) {
        Order.push_back(Name);
        Pending.push_back(Name);
      }
    }
  }
  return Order;
}

namespace {

// The SMRAM reservation and the heap HOBs, added to Hobs.
void AddMachineHobs(const Machine &Description, HobListBuilder &Hobs) {
  if (!Description.Smram.empty()) {
    // EFI_SMRAM_HOB_DESCRIPTOR_BLOCK: the region count, then the descriptors at offset 8.
    std::vector<uint8_t> Block(8 + Description.Smram.size() * sizeof(EFI_SMRAM_DESCRIPTOR), 0);
    const uint32_t Count = static_cast<uint32_t>(Description.Smram.size());
    std::memcpy(Block.data(), &Count, sizeof(Count));
    for (size_t Index = 0; Index < Description.Smram.size(); Index++) {
      const SmramRegion &Region = Description.Smram[Index];
      const EFI_SMRAM_DESCRIPTOR Descriptor = {Region.Base, Region.Base, Region.Size, Region.State};
      std::memcpy(Block.data() + 8 + Index * sizeof(Descriptor), &Descriptor, sizeof(Descriptor));
    }
    Hobs.AddGuidHob(gEfiSmmPeiSmramMemoryReserveGuid, Block);
  }
  for (const HeapHobRecord &Record : Description.HeapHobs) Hobs.AddGuidHob(gQorvexHeapHobGuid, HeapHobData(Record));
}

}  // namespace

void Platform::PublishHobList() {
  HobListBuilder Hobs;
  AddMachineHobs(Machine_, Hobs);
  Hobs.Install(Core_->Memory(), Core_->Tables());
}

std::vector<uint8_t> Platform::MachineGuidHobs() const {
  HobListBuilder Hobs;
  AddMachineHobs(Machine_, Hobs);
  // The list as built starts with its handoff HOB and ends with the end-of-list HOB; keep the GUID
  // extension HOBs between them.
  const std::vector<uint8_t> List = Hobs.Bytes(0, 0);
  std::vector<uint8_t> Guided;
  for (size_t Offset = 0; Offset + sizeof(EFI_HOB_GENERIC_HEADER) <= List.size();) {
    EFI_HOB_GENERIC_HEADER Header;
    std::memcpy(&Header, List.data() + Offset, sizeof(Header));
    if (Header.HobType == EFI_HOB_TYPE_END_OF_HOB_LIST || Header.HobLength == 0) break;
    if (Header.HobType == EFI_HOB_TYPE_GUID_EXTENSION) {
      Guided.insert(Guided.end(), List.begin() + Offset, List.begin() + Offset + Header.HobLength);
    }
    Offset += Header.HobLength;
  }
  return Guided;
}

}  // namespace sim
