// The page services and the runtime services of the fake firmware.
#include <cstring>

#include "tests/support/FakeFirmware.h"

namespace fake {
namespace {

const char *AllocateTypeName(uint32_t Type) {
  switch (Type) {
    case AllocateAnyPages: return "AnyPages";
    case AllocateMaxAddress: return "MaxAddress";
    case AllocateAddress: return "Address";
    default: return "Unknown";
  }
}

std::string Narrow(const CHAR16 *Name) {
  std::string Text;
  for (; Name != nullptr && *Name != 0; Name++) Text += *Name < 0x80 ? static_cast<char>(*Name) : '?';
  return Text;
}

EFI_STATUS EFIAPI AllocatePagesThunk(EFI_ALLOCATE_TYPE Type, EFI_MEMORY_TYPE MemoryType, UINTN Pages,
                                     EFI_PHYSICAL_ADDRESS *Memory) {
  return FakeFirmware::Current()->AllocatePages(Type, MemoryType, Pages, Memory);
}
EFI_STATUS EFIAPI FreePagesThunk(EFI_PHYSICAL_ADDRESS Memory, UINTN Pages) {
  return FakeFirmware::Current()->FreePages(Memory, Pages);
}
EFI_STATUS EFIAPI GetVariableThunk(CHAR16 *Name, EFI_GUID *Guid, UINT32 *Attributes, UINTN *Size, VOID *Data) {
  return FakeFirmware::Current()->GetVariable(Name, Guid, Attributes, Size, Data);
}
EFI_STATUS EFIAPI SetVariableThunk(CHAR16 *Name, EFI_GUID *Guid, UINT32 Attributes, UINTN Size, VOID *Data) {
  return FakeFirmware::Current()->SetVariable(Name, Guid, Attributes, Size, Data);
}
VOID EFIAPI ResetSystemThunk(EFI_RESET_TYPE Type, EFI_STATUS, UINTN, VOID *) {
  FakeFirmware::Current()->ResetSystem(Type);
}

}  // namespace

void FakeFirmware::InstallPageAndRuntimeServices() {
  BootServices_.AllocatePages = AllocatePagesThunk;
  BootServices_.FreePages = FreePagesThunk;
  RuntimeServices_.GetVariable = GetVariableThunk;
  RuntimeServices_.SetVariable = SetVariableThunk;
  RuntimeServices_.ResetSystem = ResetSystemThunk;
}

EFI_STATUS FakeFirmware::AllocatePages(uint32_t Type, uint32_t MemoryType, uint64_t Pages, uint64_t *Address) {
  PageCall Call{"AllocatePages", Type, MemoryType, Pages, *Address};
  Call.Status = Record(std::string("AllocatePages:") + AllocateTypeName(Type));
  if (!EFI_ERROR(Call.Status)) {
    const uint64_t Length = Pages * EFI_PAGE_SIZE;
    if (Type == AllocateAddress) {
      Call.Status = HostPages_.Contains(*Address, Length) ? EFI_SUCCESS : EFI_NOT_FOUND;
      Call.Result = *Address;
    } else {
      Call.Result = HostPages_.Map(Length);
      Call.Status = Call.Result != 0 ? EFI_SUCCESS : EFI_OUT_OF_RESOURCES;
      if (Call.Result != 0 && NewPageFill != 0) std::memset(reinterpret_cast<void *>(Call.Result), NewPageFill, Length);
    }
    if (!EFI_ERROR(Call.Status)) *Address = Call.Result;
  }
  PageCalls.push_back(Call);
  return Call.Status;
}

EFI_STATUS FakeFirmware::FreePages(uint64_t Address, uint64_t Pages) {
  PageCall Call{"FreePages", 0, 0, Pages, Address};
  Call.Status = Record("FreePages");
  PageCalls.push_back(Call);
  return Call.Status;
}

EFI_STATUS FakeFirmware::GetVariable(const CHAR16 *Name, const EFI_GUID *Guid, uint32_t *Attributes, UINTN *Size,
                                     void *Data) {
  EFI_STATUS Status = Record("GetVariable");
  if (EFI_ERROR(Status)) return Status;
  auto It = Variables.find(GuidName(Guid) + "/" + Narrow(Name));
  if (It == Variables.end()) return EFI_NOT_FOUND;
  const std::vector<uint8_t> &Value = It->second.Data;
  if (*Size < Value.size()) {
    *Size = Value.size();
    return EFI_BUFFER_TOO_SMALL;
  }
  if (!Value.empty()) std::memcpy(Data, Value.data(), Value.size());
  *Size = Value.size();
  if (Attributes != nullptr) *Attributes = It->second.Attributes;
  return EFI_SUCCESS;
}

EFI_STATUS FakeFirmware::SetVariable(const CHAR16 *Name, const EFI_GUID *Guid, uint32_t Attributes, UINTN Size,
                                     const void *Data) {
  EFI_STATUS Status = Record("SetVariable");
  if (EFI_ERROR(Status)) return Status;
  const std::string Key = GuidName(Guid) + "/" + Narrow(Name);
  if (Size == 0) {
    Variables.erase(Key);
    return EFI_SUCCESS;
  }
  const auto *Bytes = static_cast<const uint8_t *>(Data);
  Variables[Key] = VariableValue{Attributes, std::vector<uint8_t>(Bytes, Bytes + Size)};
  return EFI_SUCCESS;
}

void FakeFirmware::ResetSystem(uint32_t Type) {
  Record("ResetSystem");
  Resets.push_back(Type);
}

}  // namespace fake
