// Hook 0x11: the overclocking options' custom P-state 0. The system management unit is told the
// new voltage and frequency, and then every core gets the same P-state 0 definition.
#include "arch/Msr.h"
#include "arch/Processor.h"
#include "debug/DebugPrint.h"
#include "debug/FatalStop.h"
#include "driver/ImageState.h"
#include "driver/MpServicesWork.h"
#include "driver/RunOnAps.h"
#include "interfaces/PcdAccess.h"
#include "interfaces/QorvexGuids.h"
#include "interfaces/SmuServices.h"
#include "interfaces/SocServices.h"
#include "options/OptionHandlers.h"
#include "options/OptionHooks.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT32 kFatalNoSocService = 0x308E0124;
constexpr UINT32 kFatalNoMessageTable = 0x308E0128;
constexpr UINT32 kFatalMessageTableRevision = 0x308E0129;

// A request of all ones leaves that part of P-state 0 as it is.
constexpr UINT32 kLeaveAsIs = 0xFFFFFFFF;
// A limit item of 0 means no limit.
constexpr UINT16 kNoLimit = 0xFFFF;
constexpr UINT32 kFidMHz = 25;
// The divisor field counts eighths: FID × 200 / F puts the divisor that gives F from FID × 25 MHz.
constexpr UINT32 kDfsIdScale = 200;
constexpr UINT32 kVidMask = 0x1FF;

UINT16 Limit(UINT16 Item) { return Item == 0 ? kNoLimit : Item; }

VOID SendSmuMessage(QORVEX_SMU_SERVICES_PROTOCOL *Smu, UINT32 MessageId, UINT32 Value) {
  SMU_MESSAGE_ARGUMENTS Arguments = {};
  SMU_MESSAGE_ARGUMENTS Response = {};
  Arguments.Word[0] = Value;
  // The unit's answer changes nothing here.
  Smu->SmuServiceRequest(Smu, 0, MessageId, &Arguments, &Response);
}

// The SOC service's message numbers, or null when it has none. A table of another revision is
// stopped on and then used as it stands: once the service is there its table is trusted, and a
// platform whose table names another revision keeps its overclocking.
const SOC_OC_MESSAGE_TABLE *OcMessageTable(QORVEX_SOC_SERVICES_PROTOCOL *Soc) {
  const SOC_OC_MESSAGE_TABLE *Table = nullptr;
  Soc->GetOcMessageTable(Soc, &Table);
  if (Table == nullptr) {
    FatalStop(kFatalNoMessageTable);
    return nullptr;
  }
  if (Table->Revision != SOC_OC_MESSAGE_TABLE_REVISION) {
    FatalStop(kFatalMessageTableRevision);
  }
  return Table;
}

}  // namespace

UINT32 EFIAPI CcxRellTavKtxDxeCustomPstates(UINT32 HookId, VOID *Data, VOID *Context) {
  PCD_PROTOCOL *Pcd = GetPcdProtocol();
  if (Pcd->GetBool(PcdCcxSkipCustomPstates) || !Msr::ApicBase::Bsp::IsSet(AsmReadMsr64(Msr::ApicBase::Number))) {
    return KTX_SUCCESS;
  }
  PrintDebugMessage(TRACE_CPU, "CcxRellTavKtxDxeCustomPstates Options\n");
  if (Pcd->Get8(PcdCcxOcMode) != 1) {
    return KTX_SUCCESS;
  }
  UINT32 Frequency = Pcd->Get32(PcdCcxOcP0Frequency);
  UINT32 Vid = Pcd->Get32(PcdCcxOcP0Vid);
  const UINT32 VidMax = Limit(Pcd->Get16(PcdCcxOcVoltageMax));
  const UINT32 FrequencyMax = Limit(Pcd->Get16(PcdCcxOcFrequencyMax));

  QORVEX_SMU_SERVICES_PROTOCOL *Smu = nullptr;
  gBS->LocateProtocol(&gQorvexSmuServicesProtocolGuid, nullptr, reinterpret_cast<VOID **>(&Smu));
  QORVEX_SOC_SERVICES_PROTOCOL *Soc = nullptr;
  const EFI_STATUS SocStatus =
      gBS->LocateProtocol(&gQorvexSocServicesProtocolGuid, nullptr, reinterpret_cast<VOID **>(&Soc));
  if (Soc == nullptr) {
    FatalStop(kFatalNoSocService);
  }
  if (EFI_ERROR(SocStatus) || Soc == nullptr) {
    PrintDebugMessage(TRACE_CPU, "  ERROR: SOC service unavailable!\n");
    return KTX_SUCCESS;
  }
  // Without the unit's service the new voltage and frequency could not be announced; the cores
  // keep the P-state 0 the unit knows.
  if (Smu == nullptr) {
    PrintDebugMessage(TRACE_CPU, "  ERROR: SMU service unavailable!\n");
    return KTX_SUCCESS;
  }
  const SOC_OC_MESSAGE_TABLE *Messages = OcMessageTable(Soc);
  if (Messages == nullptr) {
    return KTX_SUCCESS;
  }
  SendSmuMessage(Smu, Messages->FirstMessage, 0);

  UINT64 Pstate0 = AsmReadMsr64(Msr::PstateDef0::Number);
  if (Vid != kLeaveAsIs) {
    if (Vid > VidMax) {
      PrintDebugMessage(TRACE_CPU, "  P0Vid %d exceeds OcVoltageMax, limit to %d\n", UINT64{Vid}, UINT64{VidMax});
      Vid = VidMax;
    }
    SendSmuMessage(Smu, Messages->VoltageMessage, Vid & kVidMask);
    Pstate0 = Msr::PstateDef::CpuVidLow::Set(Pstate0, Vid);
    Pstate0 = Msr::PstateDef::CpuVidHigh::Set(Pstate0, Vid >> Msr::PstateDef::CpuVidLow::Width);
  }
  // A frequency of 0 can't be divided by; it is taken as a request to leave the frequency alone.
  if (Frequency == 0) {
    PrintDebugMessage(TRACE_CPU, "  P0Freq 0 is not a frequency, left as it is\n");
  } else if (Frequency != kLeaveAsIs) {
    if (Frequency > FrequencyMax) {
      PrintDebugMessage(TRACE_CPU, "  P0Freq %d exceeds OcFrequencyMax limit to %d\n", UINT64{Frequency},
                        UINT64{FrequencyMax});
      Frequency = FrequencyMax;
    }
    SendSmuMessage(Smu, Messages->FrequencyMessage, Frequency);
    const UINT32 Fid = (Frequency / kFidMHz) & Msr::PstateDef::CpuFid::Max;
    Pstate0 = Msr::PstateDef::CpuFid::Set(Pstate0, Fid);
    Pstate0 = Msr::PstateDef::CpuDfsId::Set(Pstate0, Fid * kDfsIdScale / Frequency);
  }

  // The APs first, then the BSP, so that every core ends with the same P-state 0. APs that could
  // not be started keep their old P-state 0, which the log says, as for the other per-core work.
  const EFI_STATUS ApStatus = AllApsStartFailure(CcxRunFunctionOnAps(CCX_RUN_ALL_APS, CcxWritePstate0, &Pstate0));
  if (EFI_ERROR(ApStatus)) {
    PrintDebugMessage(TRACE_CPU, "   WARNING! Failed to write the custom P-state 0 on the APs -- status = %r\n", ApStatus);
  }
  CcxWritePstate0(&Pstate0);
  PrintDebugMessage(TRACE_CPU, "  OC - Freq: %d;  VID: %X\n", UINT64{Frequency}, UINT64{Vid});
  return KTX_SUCCESS;
}

}  // namespace CCX_IMAGE_NAMESPACE
