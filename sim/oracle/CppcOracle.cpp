#include "sim/oracle/CppcOracle.h"

#include "arch/Msr.h"

namespace sim {
namespace {

// Revision-3 packages add the two frequency elements to the revision-2 ones.
constexpr uint8_t kRevision2 = 2;
constexpr uint8_t kRevision3 = 3;
// The autonomous-selection flag is preset to a value the builder never stores.
constexpr uint8_t kFlagUntouched = 2;
constexpr uint8_t kAutonomousOn = 1;
constexpr uint8_t kEveryBitSet = 0xFF;

template <typename Field>
ExpectedCppcEntry FieldOf(uint32_t Msr) {
  ExpectedCppcEntry Entry;
  Entry.Kind = CCX_CPPC_KIND_REGISTER;
  Entry.Register.AddressSpaceId = EFI_ACPI_ADDRESS_SPACE_FFIXEDHW;
  Entry.Register.RegisterBitWidth = static_cast<UINT8>(Field::Width);
  Entry.Register.RegisterBitOffset = static_cast<UINT8>(Field::Shift);
  Entry.Register.AccessSize = EFI_ACPI_ACCESS_SIZE_QWORD;
  Entry.Register.Address = Msr;
  Entry.Revision = kRevision2;
  return Entry;
}

ExpectedCppcEntry Empty() {
  ExpectedCppcEntry Entry;
  Entry.Kind = CCX_CPPC_KIND_REGISTER;
  Entry.Revision = kRevision2;
  return Entry;
}

ExpectedCppcEntry AllOnes(uint8_t Kind, uint8_t Revision) {
  ExpectedCppcEntry Entry;
  Entry.Kind = Kind;
  Entry.Register.AddressSpaceId = kEveryBitSet;
  Entry.Register.RegisterBitWidth = kEveryBitSet;
  Entry.Register.RegisterBitOffset = kEveryBitSet;
  Entry.Register.AccessSize = kEveryBitSet;
  Entry.Register.Address = ~UINT64{0};
  Entry.Revision = Revision;
  return Entry;
}

ExpectedCppcEntry Callback(uint8_t Revision, uint32_t Value) {
  ExpectedCppcEntry Entry = AllOnes(CCX_CPPC_KIND_CALLBACK, Revision);
  Entry.HasCallback = true;
  Entry.CallbackValue = Value;
  return Entry;
}

// The value of the first present override of Element; 0 when there is none.
uint32_t OverrideOf(const CppcBuilderSettings &Builder, uint32_t Element) {
  for (const CppcOverride &Override : Builder.Overrides) {
    if (Override.Present && Override.Element == Element) return Override.Value;
  }
  return 0;
}

}  // namespace

std::vector<ExpectedCppcEntry> ExpectedCppcTemplate(const CppcBuilderSettings &Builder) {
  using Whole = RegisterField<63, 0>;
  const uint8_t Flag = Builder.AutonomousSelection.value_or(kFlagUntouched);
  return {
      FieldOf<Msr::CppcCapability1::HighestPerf>(Msr::CppcCapability1::Number),
      FieldOf<Msr::CppcCapability1::NominalPerf>(Msr::CppcCapability1::Number),
      FieldOf<Msr::CppcCapability1::LowestNonlinearPerf>(Msr::CppcCapability1::Number),
      FieldOf<Msr::CppcCapability1::LowestPerf>(Msr::CppcCapability1::Number),
      FieldOf<Msr::CppcCapability2::GuaranteedPerf>(Msr::CppcCapability2::Number),
      FieldOf<Msr::CppcRequest::DesiredPerf>(Msr::CppcRequest::Number),
      FieldOf<Msr::CppcRequest::MinPerf>(Msr::CppcRequest::Number),
      FieldOf<Msr::CppcRequest::MaxPerf>(Msr::CppcRequest::Number),
      Empty(),
      Empty(),
      Empty(),
      FieldOf<Whole>(Msr::Mperf::Number),
      FieldOf<Whole>(Msr::Aperf::Number),
      FieldOf<Msr::CppcStatus::PerfLimited>(Msr::CppcStatus::Number),
      FieldOf<Msr::CppcEnable::Enable>(Msr::CppcEnable::Number),
      Callback(kRevision2, Flag == kAutonomousOn ? 1 : 0),
      Empty(),
      FieldOf<Msr::CppcRequest::EnergyPerfPreference>(Msr::CppcRequest::Number),
      Empty(),
      Callback(kRevision3, OverrideOf(Builder, CcxCppcLowestFrequency)),
      Callback(kRevision3, OverrideOf(Builder, CcxCppcNominalFrequency)),
      AllOnes(CCX_CPPC_KIND_END, 0),
  };
}

}  // namespace sim
