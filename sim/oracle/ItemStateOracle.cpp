// What the boot must leave in the configuration database and the protocol database: the sockets'
// PPINs and the S3 library's addresses among the items, and the driver's own protocols.
#include <algorithm>
#include <map>

#include "arch/Msr.h"
#include "interfaces/PlatformConfig.h"
#include "sim/HexText.h"
#include "sim/oracle/AnswerCheck.h"
#include "sim/oracle/MachineStateOracle.h"

namespace sim {
namespace {

constexpr uint32_t kSocketsWithAPpinItem = 4;

// The protocols the initialization installs once each whenever it runs.
constexpr const char *kInitProtocols[] = {
    "gQorvexCcxAddressInfoProtocolGuid",   "gQorvexCcxAcpiServicesProtocolGuid",
    "gQorvexCcxResourceAffinityServicesProtocolGuid", "gQorvexCcxSratServicesProtocolGuid",
    "gQorvexCcxPcctServicesProtocolGuid",  "gQorvexCcxCppcServicesProtocolGuid",
    "gQorvexCcxMcaServicesProtocolGuid",   "gQorvexCcxSmbiosServicesProtocolGuid",
    "gQorvexCcxDxeInitMarkerProtocolGuid", "gQorvexCcxDxeInitCompleteProtocolGuid",
};
constexpr const char *kSmramProtocol = "gEfiSmmAccess2ProtocolGuid";
constexpr const char *kOcCompleteProtocol = "gQorvexCcxOcCompleteProtocolGuid";

// The first processor of each socket, in walk order.
std::map<uint32_t, const Processor *> FirstOfEachSocket(ProcessorSet &Processors) {
  std::map<uint32_t, const Processor *> First;
  for (size_t Index = 0; Index < Processors.Count(); Index++) {
    const Processor &Each = Processors.At(Index);
    First.try_emplace(Each.Position().Socket, &Each);
  }
  return First;
}

// The PPIN items the boot must write, by token: socket 0's by the BSP at the end of the
// initialization, the others' by their first processor in the per-core work, each only when the
// processor's PPIN is enabled and the configuration database was there to take it.
std::map<uint64_t, uint64_t> ExpectedPpinItems(Platform &Machine, const BootRecord &Boot) {
  std::map<uint64_t, uint64_t> Items;
  const sim::Machine &Description = Machine.Description();
  if (!InitializationRuns(Description)) return Items;
  const bool DatabaseAtEntry = DatabaseAtStep(Description, Boot, EntryStep(Boot) + 1);
  const size_t PerCore = PerCoreWorkStep(Description, Boot);
  const bool DatabaseAtPerCore = Description.SiblingExists("mp_services") && PerCore != SIZE_MAX &&
                                 DatabaseAtStep(Description, Boot, PerCore + 1);
  for (const auto &[Socket, First] : FirstOfEachSocket(Machine.Processors())) {
    if (Socket >= kSocketsWithAPpinItem) continue;
    if (!Msr::PpinCtl::PpinEnable::IsSet(ResetValue(*First, Msr::PpinCtl::Number))) continue;
    if (Socket == 0 ? !DatabaseAtEntry : !DatabaseAtPerCore) continue;
    Items[PcdCcxPpinSocket0 + Socket] = ResetValue(*First, Msr::Ppin::Number);
  }
  return Items;
}

}  // namespace

void CheckItemsAndProtocols(Platform &Machine, const BootRecord &Boot, std::vector<std::string> &Errors) {
  AnswerCheck Check("machine state", Errors);
  const std::map<uint64_t, uint64_t> Ppins = ExpectedPpinItems(Machine, Boot);
  std::map<uint64_t, uint64_t> Written;
  for (const auto &[Token, Value] : Boot.PcdWrites) Written[Token] = Value;
  for (const auto &[Token, Value] : Ppins) {
    const std::string Record = "configuration item " + std::to_string(Token) + " (socket " +
                               std::to_string(Token - PcdCcxPpinSocket0) + "'s PPIN)";
    const auto It = Written.find(Token);
    if (It == Written.end()) {
      Check.Problem(Record, "never written, expected " + Hex(Value));
    } else {
      Check.Field(Record, "value", Value, It->second);
    }
  }
  for (const auto &[Token, Value] : Written) {
    if (Ppins.count(Token) != 0) continue;
    if (Token == PcdQorvexS3LibPrivateDataAddress || Token == PcdQorvexS3LibTableAddress) {
      // The S3 library's record and table: addresses the library chose, in runtime-services data.
      // Once the table has been handed to SMM it goes back to the pool; the item keeps its address.
      const bool HandedOff = Token == PcdQorvexS3LibTableAddress && !Boot.S3Tokens.S3Handoffs.empty();
      const std::optional<uint32_t> Type = MemoryTypeAfterBoot(Machine, Boot, Value);
      const std::string Record = "configuration item " + std::to_string(Token) + " (" + Hex(Value) + ")";
      if (HandedOff) {
        // The simulated core gives a freed pool allocation's pages back to the memory map; real
        // firmware keeps pool pages with the pool, and FreePool promises neither, so
        // only a simulator boot can show the table was not freed.
        if (Boot.FirmwareMapAfter.empty() && Type == EfiRuntimeServicesData) {
          Check.Problem(Record, "the table handed to SMM was not given back");
        }
      } else {
        Check.Field(Record, "memory type", EfiRuntimeServicesData, Type.value_or(EfiMaxMemoryType));
      }
      continue;
    }
    Check.Problem("configuration item " + std::to_string(Token), "written (" + Hex(Value) + ") with no write expected");
  }

  std::map<std::string, size_t> Installed;
  for (const InstalledEntry &Entry : Boot.Installed) Installed[Entry.Protocol]++;
  const sim::Machine &Description = Machine.Description();
  const bool Runs = InitializationRuns(Description);
  auto ExpectCount = [&](const std::string &Protocol, size_t Expected) {
    const auto It = Installed.find(Protocol);
    Check.Field("protocol " + Protocol, "instances installed", Expected, It == Installed.end() ? 0 : It->second);
  };
  for (const char *Protocol : kInitProtocols) ExpectCount(Protocol, Runs ? 1 : 0);
  ExpectCount(kSmramProtocol,
              Runs && Description.SiblingExists("mp_services") && !Description.Smram.empty() ? 1 : 0);
  // The overclocking trigger's handler runs when the trigger is installed after the entry armed
  // it (one there from the start never signals it), and completes once MP services are there, at
  // once or through the callback that waits for them.
  const bool TriggerHandled = !Description.SiblingAtStart("oc_trigger") && Description.SiblingExists("oc_trigger");
  ExpectCount(kOcCompleteProtocol, Runs && TriggerHandled && Description.SiblingExists("mp_services") ? 1 : 0);
}

}  // namespace sim
