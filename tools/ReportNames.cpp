#include "tools/ReportNames.h"

#include "arch/MsrNames.h"
#include "debug/TestPointCodes.h"
#include "interfaces/ActDb.h"
#include "interfaces/CcxAcpiServices.h"
#include "interfaces/CcxPcctServices.h"
#include "interfaces/HeapProtocol.h"
#include "interfaces/ZrbOptionHook.h"
#include "options/OptionHookNames.h"
#include "sim/devices/PostCodeDecoder.h"
#include "sim/oracle/TokenOracle.h"

namespace ccxsim {

std::string MsrName(uint32_t Msr) {
  const Msr::NameOf Found = Msr::FindName(Msr);
  if (Found.Range == nullptr) return "";
  std::string Name = Found.Range->Name;
  if (Found.Range->Count > 1) Name += std::to_string(Found.Index);
  return Name;
}

std::string HeapHandleName(uint32_t Handle) {
  switch (Handle) {
    case HEAP_HANDLE_INIT_VALUE: return "init value for other drivers";
    case HEAP_HANDLE_DOWN_CORE: return "down-core marker";
    case HEAP_HANDLE_PSTATE_INFO: return "P-state information";
    case HEAP_HANDLE_POWER_STATE: return "power-state record";
    case HEAP_HANDLE_PCC_REGION: return "PCC region address";
    case HEAP_HANDLE_ACT_DB: return "\"ACDB\" configuration tokens";
    case HEAP_HANDLE_NV_TABLE: return "\"NVDT\" option NV table";
    default: return "";
  }
}

std::string TokenName(uint32_t Uid) { return sim::TokenSource(Uid); }

std::string TestPointName(uint32_t Value) {
  const std::optional<uint32_t> Code = sim::TestPointCode(Value);
  const char *Meaning = Code ? TestPointCode::MeaningOf(*Code) : nullptr;
  return Meaning != nullptr ? Meaning : "";
}

std::string OptionHookName(uint32_t HookId) {
  const char *Meaning = CcxImage::KtxHookMeaning(HookId);
  return Meaning != nullptr ? Meaning : "";
}

std::string WithName(const std::string &Number, const std::string &Name, size_t Width) {
  if (Name.empty() && Width == 0) return Number;
  std::string Text = Number + " " + Name;
  if (Name.size() < Width) Text.append(Width - Name.size(), ' ');
  return Text;
}

}  // namespace ccxsim
