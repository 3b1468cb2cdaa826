// The figures of one P-state, decoded from its P-state definition register on the running
// processor: the core clock from the frequency and divisor identifiers, the supply voltage from
// the voltage identifier, and the power from the voltage and the current value. This is the only
// place that decodes those registers.
#include "services/PstateFrequency.h"

#include "arch/Msr.h"
#include "arch/Processor.h"
#include "debug/DebugPrint.h"
#include "debug/FatalStop.h"
#include "interfaces/PcdAccess.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT32 kFatalOddDivisor = 0x30850112;
constexpr UINT32 kFatalUndefinedDivisor = 0x30850120;
constexpr UINT32 kFatalUndefinedCurrentDivisor = 0x30850167;

// P-state numbers from 0x80 up name P-state n - 0x80, as some callers pass them.
constexpr INT32 kPstateAlias = 0x80;

// The core clock is CpuFid x 25 MHz before division, and the divisor is CpuDfsId / 8.
constexpr UINT32 kMHzPerFid = 25;
constexpr UINT32 kDivisorScale = 8;
constexpr UINT64 kDfsIdFirstDefined = 8;
constexpr UINT64 kDfsIdLastDefined = 60;
// Above this, only even divisor identifiers are defined.
constexpr UINT64 kDfsIdLastOddAllowed = 26;

// Voltage identifier 1 is 250 mV, and each further step adds 5 mV.
constexpr UINT64 kVidOffset = 49;
constexpr UINT64 kMicrovoltsPerVidStep = 5000;

// The current divisors: amperes, tenths and hundredths of an ampere.
constexpr UINT64 kIddDivAmps = 0;
constexpr UINT64 kIddDivTenths = 1;
constexpr UINT64 kIddDivHundredths = 2;
constexpr UINT64 kPowerScaleAmps = 100;
constexpr UINT64 kPowerScaleTenths = 1000;
constexpr UINT64 kPowerScaleHundredths = 10000;
constexpr UINT64 kMicrovoltScale = 10;

constexpr UINT8 kOcModeOn = 1;

using Def = Msr::PstateDef;

// The voltage identifier is nine bits wide: eight low bits and one high bit apart from them.
constexpr UINT32 kVidMask = (1U << (Def::CpuVidLow::Width + Def::CpuVidHigh::Width)) - 1;

UINT32 CoreFrequency(UINT32 Fid, UINT32 DfsId) {
  if (DfsId == 0) {
    return 0;
  }
  if (DfsId >= kDfsIdFirstDefined && DfsId <= kDfsIdLastDefined) {
    return Fid * kMHzPerFid * kDivisorScale / DfsId;
  }
  PrintDebugMessage(TRACE_CPU, "    Undefined CpuDfsId %d used. Force it to div 1.\n", static_cast<UINT64>(DfsId));
  FatalStop(kFatalUndefinedDivisor);
  return Fid * kMHzPerFid;
}

// The part's highest frequency: a 7-bit count of 50 MHz steps whose lowest bit sits apart.
UINT32 FrequencyLimitMHz() {
  const UINT64 Register = AsmReadMsr64(Msr::FrequencyLimit::Number);
  const UINT64 Steps = 2 * Msr::FrequencyLimit::StepsHigh::Get(Register) + Msr::FrequencyLimit::StepsLow::Get(Register);
  return static_cast<UINT32>(Steps * Msr::FrequencyLimit::MHzPerStep);
}

// Overclocking settings replace P0's voltage identifier and frequency in what is reported, when
// they are set and differ from their automatic values; the frequency never beyond the part's limit.
VOID ApplyOverclocking(UINT64 *FrequencyMHz, UINT32 *Vid) {
  PCD_PROTOCOL *Pcd = GetPcdProtocol();
  const UINT32 Frequency = Pcd->Get32(PcdCcxOcP0Frequency);
  const UINT32 OcVid = Pcd->Get32(PcdCcxOcP0Vid);
  if (OcVid != 0 && OcVid != Pcd->Get32(PcdCcxOcP0VidAuto)) {
    *Vid = OcVid & kVidMask;
  }
  if (Frequency != 0 && Frequency != Pcd->Get32(PcdCcxOcP0FrequencyAuto)) {
    const UINT32 Limit = FrequencyLimitMHz();
    if (Frequency > Limit) {
      PrintDebugMessage(TRACE_CPU, "  P0Freq %d exceeds Frequency Max limit of %d\n", static_cast<UINT64>(Frequency),
                        static_cast<UINT64>(Limit));
      *FrequencyMHz = Limit;
    } else {
      *FrequencyMHz = Frequency;
    }
  }
}

UINT64 PowerMilliwatts(UINT64 VoltageUv, UINT64 IddValue, UINT64 IddDiv) {
  const UINT64 Scaled = VoltageUv / kMicrovoltScale * IddValue;
  switch (IddDiv) {
    case kIddDivAmps:
      return Scaled / kPowerScaleAmps;
    case kIddDivTenths:
      return Scaled / kPowerScaleTenths;
    case kIddDivHundredths:
      return Scaled / kPowerScaleHundredths;
    default:
      FatalStop(kFatalUndefinedCurrentDivisor);
      return 0;
  }
}

}  // namespace

BOOLEAN RellGetPstateFrequency(VOID *Context, UINT32 Pstate, UINT64 *FrequencyMHz, UINT64 *VoltageUv,
                               UINT64 *PowerMw) {
  if (static_cast<INT32>(Pstate) >= kPstateAlias) {
    Pstate -= kPstateAlias;
  }
  // Only P-states 0 to 7 have definition registers; any other number would read an unrelated
  // register, or fault, so it is reported like a P-state that is not enabled.
  if (Pstate >= Msr::PstateDefCount) {
    return FALSE;
  }
  const UINT64 Definition = AsmReadMsr64(Def::FirstNumber + Pstate);
  if (!Def::PstateEn::IsSet(Definition)) {
    return FALSE;
  }
  PrintDebugMessage(TRACE_CPU, "  RellGetPstateFrequency - P%d\n", static_cast<UINT64>(Pstate));

  const UINT32 Fid = static_cast<UINT32>(Def::CpuFid::Get(Definition));
  const UINT32 DfsId = static_cast<UINT32>(Def::CpuDfsId::Get(Definition));
  UINT32 Vid = static_cast<UINT32>(Def::CpuVidHigh::Get(Definition) << Def::CpuVidLow::Width |
                                   Def::CpuVidLow::Get(Definition));
  const UINT64 IddValue = Def::IddValue::Get(Definition);
  const UINT64 IddDiv = Def::IddDiv::Get(Definition);

  if (DfsId > kDfsIdLastOddAllowed && DfsId % 2 != 0) {
    FatalStop(kFatalOddDivisor);
  }
  UINT64 Frequency = CoreFrequency(Fid, DfsId);
  if (Pstate == 0 && GetPcdProtocol()->Get8(PcdCcxOcMode) == kOcModeOn) {
    ApplyOverclocking(&Frequency, &Vid);
  }
  PrintDebugMessage(TRACE_CPU, "    FrequencyInMHz=%d, CpuFid=%d, CpuVid=%d, CpuDfsId=%d\n", Frequency,
                    static_cast<UINT64>(Fid), static_cast<UINT64>(Vid), static_cast<UINT64>(DfsId));

  const UINT64 Voltage = Vid == 0 ? 0 : (Vid + kVidOffset) * kMicrovoltsPerVidStep;
  PrintDebugMessage(TRACE_CPU, "    KVL3 VoltageInuV=0x%x\n", Voltage);
  const UINT64 Power = PowerMilliwatts(Voltage, IddValue, IddDiv);
  PrintDebugMessage(TRACE_CPU, "    PowerInmW=0x%x\n", Power);

  *FrequencyMHz = Frequency;
  *VoltageUv = Voltage;
  *PowerMw = Power;
  return TRUE;
}

}  // namespace CCX_IMAGE_NAMESPACE
