#include "sim/consumers/CpcSsdtBuilder.h"

#include <algorithm>
#include <cstdio>

#include "interfaces/CcxCppcServices.h"
#include "interfaces/QorvexGuids.h"
#include "sim/HexText.h"
#include "sim/oracle/AnswerCheck.h"
#include "sim/oracle/CppcOracle.h"

namespace sim {
namespace {

// A template longer than this has lost its end entry.
constexpr size_t kMaxTemplateEntries = 64;
// Device names have three hexadecimal digits for the thread.
constexpr size_t kMaxDevices = 0x1000;
// NumEntries counts itself and the Revision element too.
constexpr size_t kLeadingElements = 2;

// The builder's service record, followed by what its two services answer from. The driver's
// callbacks forward C, the builder's own value, so it carries the address of the settings.
struct BuilderState {
  CCX_CPPC_BUILDER_CONTEXT Record{};
  const CppcBuilderSettings *Settings = nullptr;
  std::vector<CCX_CPPC_OVERRIDE> Overrides;
};

EFI_STATUS EFIAPI BuilderGetAutonomousSelect(UINT8 *Flag, UINT64, UINT64, UINT64 C) {
  const auto *State = reinterpret_cast<const BuilderState *>(static_cast<uintptr_t>(C));
  if (Flag == nullptr || State == nullptr) return EFI_INVALID_PARAMETER;
  if (State->Settings->AutonomousSelection) *Flag = *State->Settings->AutonomousSelection;
  return EFI_SUCCESS;
}

EFI_STATUS EFIAPI BuilderGetCpcOverrides(CCX_CPPC_OVERRIDE **List, UINT32 *Count, UINT32, UINT64 C) {
  auto *State = reinterpret_cast<BuilderState *>(static_cast<uintptr_t>(C));
  if (List == nullptr || Count == nullptr || State == nullptr) return EFI_INVALID_PARAMETER;
  *List = State->Overrides.empty() ? nullptr : State->Overrides.data();
  *Count = static_cast<UINT32>(State->Overrides.size());
  return EFI_SUCCESS;
}

// One element of the package as ASL, or an empty string when the entry cannot be expressed.
std::string RegisterElement(const EFI_ACPI_GENERIC_ADDRESS_STRUCTURE &Register) {
  if (Register.AddressSpaceId == 0 && Register.RegisterBitWidth == 0 && Register.RegisterBitOffset == 0 &&
      Register.AccessSize == 0 && Register.Address == 0) {
    return "ResourceTemplate () { Register (SystemMemory, 0, 0, 0x0000000000000000, 0) }";
  }
  const char *Space = nullptr;
  switch (Register.AddressSpaceId) {
    case EFI_ACPI_ADDRESS_SPACE_FFIXEDHW: Space = "FFixedHW"; break;
    case EFI_ACPI_ADDRESS_SPACE_SYSTEM_MEMORY: Space = "SystemMemory"; break;
    case 1: Space = "SystemIO"; break;
    default: return "";
  }
  return std::string("ResourceTemplate () { Register (") + Space + ", " + std::to_string(Register.RegisterBitWidth) +
         ", " + std::to_string(Register.RegisterBitOffset) + ", " + Hex(Register.Address, 16) + ", " +
         std::to_string(Register.AccessSize) + ") }";
}

// The template against the one the machine calls for, entry by entry up to the end entry.
void CheckTemplate(const CCX_CPPC_TEMPLATE_ENTRY *Template, const std::vector<ExpectedCppcEntry> &Expected,
                   std::vector<std::string> &Errors) {
  AnswerCheck Check("GetCppcTemplate", Errors);
  size_t Index = 0;
  for (; Index < kMaxTemplateEntries; Index++) {
    const CCX_CPPC_TEMPLATE_ENTRY &Got = Template[Index];
    if (Index < Expected.size()) {
      const ExpectedCppcEntry &Want = Expected[Index];
      const std::string Record = "entry " + std::to_string(Index);
      Check.Field(Record, "Kind", Want.Kind, Got.Kind);
      Check.Field(Record, "AddressSpaceId", Want.Register.AddressSpaceId, Got.Register.AddressSpaceId);
      Check.Field(Record, "RegisterBitWidth", Want.Register.RegisterBitWidth, Got.Register.RegisterBitWidth);
      Check.Field(Record, "RegisterBitOffset", Want.Register.RegisterBitOffset, Got.Register.RegisterBitOffset);
      Check.Field(Record, "AccessSize", Want.Register.AccessSize, Got.Register.AccessSize);
      Check.Field(Record, "Address", Want.Register.Address, Got.Register.Address);
      const uint64_t Callback = reinterpret_cast<uintptr_t>(Got.Callback);
      if (Want.HasCallback) {
        if (Callback == 0) Check.Text(Record, "Callback", "a callback address", "0");
      } else {
        Check.Field(Record, "Callback", 0, Callback);
      }
      Check.Field(Record, "Revision", Want.Revision, Got.Revision);
    }
    if (Got.Kind == CCX_CPPC_KIND_END) break;
  }
  const size_t Entries = Index + 1;
  if (Index < kMaxTemplateEntries && Entries != Expected.size()) {
    Check.Problem("template", "it has " + std::to_string(Entries) + " entries up to its end entry, the machine " +
                                  std::to_string(Expected.size()));
  }
}

// The callback's integer for every thread against the builder's settings; the first thread that
// differs is named, the others counted.
void CheckCallbackValues(size_t Element, const std::vector<uint32_t> &PerThread, uint32_t Expected,
                         std::vector<std::string> &Errors) {
  AnswerCheck Check("_CPC callback", Errors);
  size_t Differing = 0;
  for (size_t Thread = 0; Thread < PerThread.size(); Thread++) {
    if (PerThread[Thread] == Expected) continue;
    if (Differing++ == 0) {
      Check.Field("element " + std::to_string(Element) + " thread " + std::to_string(Thread), "Value", Expected,
                  PerThread[Thread]);
    }
  }
  if (Differing > 1) {
    Check.Problem("element " + std::to_string(Element), std::to_string(Differing - 1) + " more threads differ");
  }
}

}  // namespace

CpcSsdtReport BuildCpcSsdt(Platform &Machine) {
  CpcSsdtReport Report;
  VOID *Interface = nullptr;
  EFI_BOOT_SERVICES *BootServices = Machine.Core().BootServices();
  if (EFI_ERROR(BootServices->LocateProtocol(&gQorvexCcxCppcServicesProtocolGuid, nullptr, &Interface)) ||
      Interface == nullptr) {
    return Report;
  }
  Report.ServiceFound = true;
  auto *Service = static_cast<QORVEX_CCX_CPPC_SERVICES_PROTOCOL *>(Interface);
  const CCX_CPPC_TEMPLATE_ENTRY *Template = nullptr;
  if (EFI_ERROR(Service->GetCppcTemplate(Service, &Template)) || Template == nullptr) {
    Report.Errors.push_back("GetCppcTemplate gave no template");
    return Report;
  }

  const std::vector<ExpectedCppcEntry> Expected = ExpectedCppcTemplate(Machine.Description().Cppc);
  CheckTemplate(Template, Expected, Report.Errors);

  BuilderState State;
  State.Record.Revision = 1;
  State.Record.GetAutonomousSelect = BuilderGetAutonomousSelect;
  State.Record.GetCpcOverrides = BuilderGetCpcOverrides;
  State.Settings = &Machine.Description().Cppc;
  for (const CppcOverride &Override : State.Settings->Overrides) {
    CCX_CPPC_OVERRIDE Record{};
    Record.Present = Override.Present ? 1 : 0;
    Record.Element = Override.Element;
    Record.Value = Override.Value;
    State.Overrides.push_back(Record);
  }
  const UINT64 C = reinterpret_cast<uintptr_t>(&State);

  // The elements are the same for every thread; the callbacks are asked once per thread all the
  // same, with the thread's number as A, as a builder that may answer per thread would.
  const size_t Threads = Machine.Processors().Count();
  if (Threads > kMaxDevices) {
    Report.Errors.push_back(std::to_string(Threads) + " threads are more than the device names can tell apart");
    return Report;
  }
  std::vector<std::vector<std::string>> Elements(Threads);
  size_t Index = 0;
  for (; Index < kMaxTemplateEntries && Template[Index].Kind != CCX_CPPC_KIND_END; Index++) {
    const CCX_CPPC_TEMPLATE_ENTRY &Entry = Template[Index];
    Report.Revision = std::max<uint32_t>(Report.Revision, Entry.Revision);
    // A register element reads the same for every thread: it is written out once.
    const std::string Register = Entry.Kind == CCX_CPPC_KIND_REGISTER ? RegisterElement(Entry.Register) : "";
    std::vector<uint32_t> Values(Threads);
    for (size_t Thread = 0; Thread < Threads; Thread++) {
      std::string Element;
      if (Entry.Kind == CCX_CPPC_KIND_REGISTER) {
        Element = Register;
        if (Element.empty()) {
          Report.Errors.push_back("element " + std::to_string(Index) + " names address space " +
                                  std::to_string(Entry.Register.AddressSpaceId));
          return Report;
        }
      } else if (Entry.Kind == CCX_CPPC_KIND_CALLBACK && Entry.Callback != nullptr) {
        const auto Value = static_cast<UINT32>(Machine.CallDriverFunction(
            reinterpret_cast<uint64_t>(Entry.Callback), {reinterpret_cast<uint64_t>(&State.Record), Thread, 0, C}));
        if (Thread == 0) Report.CallbackValues.push_back(Value);
        Values[Thread] = Value;
        Element = Hex(Value, 8);
      } else {
        Report.Errors.push_back("element " + std::to_string(Index) + " has kind " + std::to_string(Entry.Kind));
        return Report;
      }
      Elements[Thread].push_back(std::move(Element));
    }
    if (Entry.Kind == CCX_CPPC_KIND_CALLBACK && Index < Expected.size()) {
      CheckCallbackValues(Index, Values, Expected[Index].CallbackValue, Report.Errors);
    }
  }
  if (Index == kMaxTemplateEntries) {
    Report.Errors.push_back("the template has no end entry within " + std::to_string(kMaxTemplateEntries) + " entries");
    return Report;
  }
  Report.Elements = Index;

  std::string Asl = "DefinitionBlock (\"\", \"SSDT\", 2, \"QORVEX\", \"CCXCPC\", 0x00000001)\n{\n    Scope (\\_SB)\n    {\n";
  for (size_t Thread = 0; Thread < Threads; Thread++) {
    // Four-character names: "C" and the thread's number in three hexadecimal digits.
    char Name[24];
    std::snprintf(Name, sizeof(Name), "C%03zX", Thread % 0x1000);
    Asl += std::string("        Device (") + Name + ")\n        {\n";
    Asl += "            Name (_HID, \"ACPI0007\")\n";
    Asl += "            Name (_UID, " + Hex(Thread, 4) + ")\n";
    Asl += "            Name (_CPC, Package ()\n            {\n";
    Asl += "                " + std::to_string(Report.Elements + kLeadingElements) + ",\n";
    Asl += "                " + std::to_string(Report.Revision);
    for (const std::string &Element : Elements[Thread]) Asl += ",\n                " + Element;
    Asl += "\n            })\n        }\n";
  }
  Asl += "    }\n}\n";
  Report.Devices = Threads;
  Report.Asl = std::move(Asl);
  return Report;
}

}  // namespace sim
