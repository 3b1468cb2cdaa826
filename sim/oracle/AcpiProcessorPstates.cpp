#include "sim/oracle/AcpiProcessorPstates.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "interfaces/PlatformConfig.h"
#include "interfaces/QorvexGuids.h"
#include "sim/uefi/Guid.h"
#include "uefi/StandardGuids.h"

namespace sim {
namespace {

// A request or limit of all ones leaves that part of P-state 0 alone; a limit item of 0 means none.
constexpr uint32_t kLeaveAsIs = 0xFFFFFFFF;
constexpr uint32_t kNoLimit = 0xFFFF;
// The core clock is CpuFid × 25 MHz before the divisor, which counts eighths.
constexpr uint64_t kFidMHz = 25;
constexpr uint32_t kDfsScale = 200;
// Divisor identifiers 8 to 60 divide; 0 stops the clock; any other is taken as divisor 1.
constexpr uint64_t kFirstDividingDfsId = 8;
constexpr uint64_t kLastDividingDfsId = 60;
// A voltage identifier n > 0 is (n + 49) × 5 mV.
constexpr uint64_t kVidOffset = 49;
constexpr uint64_t kMicrovoltsPerVidStep = 5000;
constexpr uint32_t kVidBits = 0x1FF;
// The current divisor: amperes, tenths or hundredths; code 3 gives no power.
constexpr uint64_t kPowerDivisors[] = {100, 1000, 10000};
// The boot processor is processor 0 in walk order.
constexpr size_t kBspIndex = 0;

uint64_t BspResetValue(const Machine &Description, uint32_t Number) {
  return Description.Processors.ResetMsr(kBspIndex, Number).value_or(0);
}

// Where the first interface of Guid stands in the order of installation (handles are listed in
// the order they were made, and every sibling comes on a handle of its own), or nothing.
std::optional<size_t> InstallPlace(const std::vector<InstalledProtocol> &Installed, const EFI_GUID &Guid) {
  for (size_t Place = 0; Place < Installed.size(); Place++) {
    if (SameGuid(Installed[Place].guid, Guid)) return Place;
  }
  return std::nullopt;
}

// The custom P-state handler runs once both the overclocking trigger and MP services are there,
// and changes P-state 0 only when the SOC and SMU services it announces the change through were
// there before that moment; its configuration items read as 0 without the database.
bool CustomPstateHandlerChanged(Platform &Machine) {
  const std::vector<InstalledProtocol> Installed = Machine.Core().Protocols().Installed();
  const std::optional<size_t> Trigger = InstallPlace(Installed, gQorvexCcxOcTriggerProtocolGuid);
  const std::optional<size_t> Mp = InstallPlace(Installed, gEfiMpServiceProtocolGuid);
  if (!Trigger || !Mp) return false;
  const size_t Ran = std::max(*Trigger, *Mp);
  for (const EFI_GUID *Needed : {&gQorvexSocServicesProtocolGuid, &gQorvexSmuServicesProtocolGuid, &gPcdProtocolGuid}) {
    const std::optional<size_t> Place = InstallPlace(Installed, *Needed);
    if (!Place || *Place > Ran) return false;
  }
  return Machine.Description().Soc.OcMessages.Present;
}

uint64_t FrequencyLimitMHz(uint64_t Register) {
  return (2 * Msr::FrequencyLimit::StepsHigh::Get(Register) + Msr::FrequencyLimit::StepsLow::Get(Register)) *
         Msr::FrequencyLimit::MHzPerStep;
}

}  // namespace

const std::map<uint64_t, uint64_t> &ReadableItems(Platform &Machine) {
  static const std::map<uint64_t, uint64_t> kNoItems;
  return Machine.Core().Protocols().Find(gPcdProtocolGuid) ? Machine.Description().Pcd : kNoItems;
}

uint64_t PcdItem(const std::map<uint64_t, uint64_t> &Pcd, uint64_t Token, unsigned Width) {
  const auto It = Pcd.find(Token);
  if (It == Pcd.end()) return 0;
  return Width >= 8 ? It->second : It->second & ((uint64_t{1} << (8 * Width)) - 1);
}

OverclockItems OverclockItemsOf(const std::map<uint64_t, uint64_t> &Pcd) {
  OverclockItems Items;
  Items.Mode = static_cast<uint8_t>(PcdItem(Pcd, PcdCcxOcMode, 1));
  Items.SkipCustomPstates = PcdItem(Pcd, PcdCcxSkipCustomPstates, 8) != 0;
  Items.P0Frequency = static_cast<uint32_t>(PcdItem(Pcd, PcdCcxOcP0Frequency, 4));
  Items.P0Vid = static_cast<uint32_t>(PcdItem(Pcd, PcdCcxOcP0Vid, 4));
  Items.P0FrequencyAuto = static_cast<uint32_t>(PcdItem(Pcd, PcdCcxOcP0FrequencyAuto, 4));
  Items.P0VidAuto = static_cast<uint32_t>(PcdItem(Pcd, PcdCcxOcP0VidAuto, 4));
  Items.FrequencyMax = static_cast<uint16_t>(PcdItem(Pcd, PcdCcxOcFrequencyMax, 2));
  Items.VoltageMax = static_cast<uint16_t>(PcdItem(Pcd, PcdCcxOcVoltageMax, 2));
  return Items;
}

uint64_t CustomPstate0(uint64_t Definition, const OverclockItems &Items) {
  const uint32_t VoltageMax = Items.VoltageMax == 0 ? kNoLimit : Items.VoltageMax;
  const uint32_t FrequencyMax = Items.FrequencyMax == 0 ? kNoLimit : Items.FrequencyMax;
  if (Items.P0Vid != kLeaveAsIs) {
    const uint32_t Vid = std::min(Items.P0Vid, VoltageMax) & kVidBits;
    Definition = Msr::PstateDef::CpuVidLow::Set(Definition, Vid & Msr::PstateDef::CpuVidLow::Max);
    Definition = Msr::PstateDef::CpuVidHigh::Set(Definition, Vid >> Msr::PstateDef::CpuVidLow::Width);
  }
  // A frequency of 0 cannot be divided by: it leaves the frequency as it is.
  if (Items.P0Frequency != kLeaveAsIs && Items.P0Frequency != 0) {
    const uint32_t Frequency = std::min(Items.P0Frequency, FrequencyMax);
    const uint32_t Fid = static_cast<uint32_t>((Frequency / kFidMHz) & Msr::PstateDef::CpuFid::Max);
    Definition = Msr::PstateDef::CpuFid::Set(Definition, Fid);
    Definition = Msr::PstateDef::CpuDfsId::Set(Definition, (Fid * kDfsScale / Frequency) & Msr::PstateDef::CpuDfsId::Max);
  }
  return Definition;
}

PstateRegisters ExpectedPstateRegisters(Platform &Machine) {
  const sim::Machine &Description = Machine.Description();
  PstateRegisters Registers;
  for (uint32_t Pstate = 0; Pstate < Msr::PstateDefCount; Pstate++) {
    Registers.Definitions[Pstate] = BspResetValue(Description, Msr::PstateDef::FirstNumber + Pstate);
  }
  Registers.CurrentLimit = BspResetValue(Description, Msr::PstateCurLim::Number);
  Registers.FrequencyLimit = BspResetValue(Description, Msr::FrequencyLimit::Number);
  const OverclockItems Items = OverclockItemsOf(Description.Pcd);
  if (!Items.SkipCustomPstates && Items.Mode == 1 && CustomPstateHandlerChanged(Machine)) {
    Registers.Definitions[0] = CustomPstate0(Registers.Definitions[0], Items);
  }
  return Registers;
}

std::optional<PstateFigures> DecodePstate(uint32_t Number, const PstateRegisters &Registers,
                                          const OverclockItems &Items) {
  const uint64_t Definition = Registers.Definitions[Number % Msr::PstateDefCount];
  if (!Msr::PstateDef::PstateEn::IsSet(Definition)) return std::nullopt;
  const uint64_t Fid = Msr::PstateDef::CpuFid::Get(Definition);
  const uint64_t DfsId = Msr::PstateDef::CpuDfsId::Get(Definition);
  uint64_t Vid = Msr::PstateDef::CpuVidLow::Get(Definition) |
                 Msr::PstateDef::CpuVidHigh::Get(Definition) << Msr::PstateDef::CpuVidLow::Width;
  PstateFigures Figures;
  Figures.Number = Number;
  if (DfsId == 0) {
    Figures.FrequencyMHz = 0;
  } else if (DfsId >= kFirstDividingDfsId && DfsId <= kLastDividingDfsId) {
    // The division is made in 32 bits.
    Figures.FrequencyMHz = static_cast<uint32_t>(Fid * kDfsScale) / static_cast<uint32_t>(DfsId);
  } else {
    Figures.FrequencyMHz = Fid * kFidMHz;
  }
  if (Number == 0 && Items.Mode == 1) {
    if (Items.P0Vid != 0 && Items.P0Vid != Items.P0VidAuto) Vid = Items.P0Vid & kVidBits;
    if (Items.P0Frequency != 0 && Items.P0Frequency != Items.P0FrequencyAuto) {
      Figures.FrequencyMHz = std::min<uint64_t>(Items.P0Frequency, FrequencyLimitMHz(Registers.FrequencyLimit));
    }
  }
  Figures.VoltageUv = Vid == 0 ? 0 : (Vid + kVidOffset) * kMicrovoltsPerVidStep;
  const uint64_t IddDiv = Msr::PstateDef::IddDiv::Get(Definition);
  const uint64_t Scaled = Figures.VoltageUv / 10 * Msr::PstateDef::IddValue::Get(Definition);
  Figures.PowerMw = IddDiv < std::size(kPowerDivisors) ? Scaled / kPowerDivisors[IddDiv] : 0;
  return Figures;
}

}  // namespace sim
