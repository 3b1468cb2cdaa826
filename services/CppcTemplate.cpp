// The _CPC template in read-only data. Performance and control registers are fields of the CPPC
// MSRs, named as functional fixed hardware with 64-bit accesses; elements the processor does not
// implement are empty registers; the autonomous-selection flag and the two frequencies are
// integers that the builder's own data decide, so their entries name a callback. The frequency
// elements only exist from _CPC revision 3 on.
#include "services/CppcServices.h"

#include "arch/Msr.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT8 kRevisionBase = 2;
constexpr UINT8 kRevisionFrequencies = 3;

// An MSR field as a functional-fixed-hardware register.
template <typename Field>
constexpr CCX_CPPC_TEMPLATE_ENTRY MsrField(UINT32 Msr) {
  return {CCX_CPPC_KIND_REGISTER,
          {EFI_ACPI_ADDRESS_SPACE_FFIXEDHW, static_cast<UINT8>(Field::Width), static_cast<UINT8>(Field::Shift),
           EFI_ACPI_ACCESS_SIZE_QWORD, Msr},
          nullptr,
          kRevisionBase};
}

constexpr CCX_CPPC_TEMPLATE_ENTRY WholeMsr(UINT32 Msr) { return MsrField<RegisterField<63, 0>>(Msr); }

constexpr CCX_CPPC_TEMPLATE_ENTRY EmptyRegister() { return {CCX_CPPC_KIND_REGISTER, {0, 0, 0, 0, 0}, nullptr, kRevisionBase}; }

// Callback and end entries hold an all-ones register, which no real register is.
constexpr EFI_ACPI_GENERIC_ADDRESS_STRUCTURE kNoRegister = {0xFF, 0xFF, 0xFF, 0xFF, 0xFFFFFFFFFFFFFFFFULL};

constexpr CCX_CPPC_TEMPLATE_ENTRY Callback(CCX_CPPC_CALLBACK Routine, UINT8 Revision) {
  return {CCX_CPPC_KIND_CALLBACK, kNoRegister, Routine, Revision};
}

}  // namespace

const CCX_CPPC_TEMPLATE_ENTRY gCcxCppcTemplate[kCcxCppcTemplateEntries] = {
    MsrField<Msr::CppcCapability1::HighestPerf>(Msr::CppcCapability1::Number),
    MsrField<Msr::CppcCapability1::NominalPerf>(Msr::CppcCapability1::Number),
    MsrField<Msr::CppcCapability1::LowestNonlinearPerf>(Msr::CppcCapability1::Number),
    MsrField<Msr::CppcCapability1::LowestPerf>(Msr::CppcCapability1::Number),
    MsrField<Msr::CppcCapability2::GuaranteedPerf>(Msr::CppcCapability2::Number),
    MsrField<Msr::CppcRequest::DesiredPerf>(Msr::CppcRequest::Number),
    MsrField<Msr::CppcRequest::MinPerf>(Msr::CppcRequest::Number),
    MsrField<Msr::CppcRequest::MaxPerf>(Msr::CppcRequest::Number),
    EmptyRegister(),  // performance reduction tolerance
    EmptyRegister(),  // time window
    EmptyRegister(),  // counter wraparound time
    WholeMsr(Msr::Mperf::Number),
    WholeMsr(Msr::Aperf::Number),
    MsrField<Msr::CppcStatus::PerfLimited>(Msr::CppcStatus::Number),
    MsrField<Msr::CppcEnable::Enable>(Msr::CppcEnable::Number),
    Callback(QorvexCppcGetAutonomousSelect, kRevisionBase),
    EmptyRegister(),  // autonomous activity window
    MsrField<Msr::CppcRequest::EnergyPerfPreference>(Msr::CppcRequest::Number),
    EmptyRegister(),  // reference performance
    Callback(QorvexCppcGetLowestSpeed, kRevisionFrequencies),
    Callback(QorvexCppcGetNominalSpeed, kRevisionFrequencies),
    {CCX_CPPC_KIND_END, kNoRegister, nullptr, 0},
};

}  // namespace CCX_IMAGE_NAMESPACE
