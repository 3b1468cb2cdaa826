#include "sim/siblings/PcdDatabase.h"

#include <atomic>
#include <cstdio>

namespace sim {
namespace {

std::atomic<PcdDatabase *> gActive{nullptr};

std::string SpaceKey(const EFI_GUID *Space) {
  if (Space == nullptr) return "";
  char Text[48];
  std::snprintf(Text, sizeof(Text), "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", Space->Data1, Space->Data2,
                Space->Data3, Space->Data4[0], Space->Data4[1], Space->Data4[2], Space->Data4[3], Space->Data4[4],
                Space->Data4[5], Space->Data4[6], Space->Data4[7]);
  return Text;
}

PcdDatabase &Active() { return *gActive.load(); }

template <typename T>
T EFIAPI GetDefault(UINTN Token) {
  return static_cast<T>(Active().Read(nullptr, Token));
}
BOOLEAN EFIAPI GetBoolDefault(UINTN Token) { return Active().Read(nullptr, Token) != 0 ? TRUE : FALSE; }
template <typename T>
T EFIAPI ThunkGetEx(const EFI_GUID *Space, UINTN Token) {
  return static_cast<T>(Active().Read(Space, Token));
}
BOOLEAN EFIAPI GetBoolEx(const EFI_GUID *Space, UINTN Token) { return Active().Read(Space, Token) != 0 ? TRUE : FALSE; }
template <typename T>
EFI_STATUS EFIAPI SetDefault(UINTN Token, T Value) {
  return Active().Write(nullptr, Token, Value);
}
template <typename T>
EFI_STATUS EFIAPI ThunkSetEx(const EFI_GUID *Space, UINTN Token, T Value) {
  return Active().Write(Space, Token, Value);
}
VOID *EFIAPI GetPtrDefault(UINTN) { return nullptr; }
VOID *EFIAPI GetPtrEx(const EFI_GUID *, UINTN) { return nullptr; }
UINTN EFIAPI GetSizeDefault(UINTN) { return 8; }
UINTN EFIAPI GetSizeEx(const EFI_GUID *, UINTN) { return 8; }
VOID EFIAPI SetSku(UINTN) {}
EFI_STATUS EFIAPI SetPtrDefault(UINTN, UINTN *, VOID *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI SetPtrEx(const EFI_GUID *, UINTN, UINTN *, VOID *) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI CallbackDefault(const EFI_GUID *, UINTN, PCD_PROTOCOL_CALLBACK) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI CallbackPi(const EFI_GUID *, UINTN, EFI_PCD_PROTOCOL_CALLBACK) { return EFI_UNSUPPORTED; }
EFI_STATUS EFIAPI GetNextToken(const EFI_GUID *, UINTN *) { return EFI_NOT_FOUND; }
EFI_STATUS EFIAPI GetNextTokenSpace(const EFI_GUID **) { return EFI_NOT_FOUND; }

}  // namespace

PcdDatabase::PcdDatabase() {
  Protocol_ = {SetSku,
               GetDefault<UINT8>,
               GetDefault<UINT16>,
               GetDefault<UINT32>,
               GetDefault<UINT64>,
               GetPtrDefault,
               GetBoolDefault,
               GetSizeDefault,
               ThunkGetEx<UINT8>,
               ThunkGetEx<UINT16>,
               ThunkGetEx<UINT32>,
               ThunkGetEx<UINT64>,
               GetPtrEx,
               GetBoolEx,
               GetSizeEx,
               SetDefault<UINT8>,
               SetDefault<UINT16>,
               SetDefault<UINT32>,
               SetDefault<UINT64>,
               SetPtrDefault,
               SetDefault<BOOLEAN>,
               ThunkSetEx<UINT8>,
               ThunkSetEx<UINT16>,
               ThunkSetEx<UINT32>,
               ThunkSetEx<UINT64>,
               SetPtrEx,
               ThunkSetEx<BOOLEAN>,
               CallbackDefault,
               CallbackDefault,
               GetNextToken,
               GetNextTokenSpace};
  PiProtocol_ = {SetSku,        ThunkGetEx<UINT8>,  ThunkGetEx<UINT16>, ThunkGetEx<UINT32>, ThunkGetEx<UINT64>, GetPtrEx,
                 GetBoolEx,     GetSizeEx,     ThunkSetEx<UINT8>,  ThunkSetEx<UINT16>, ThunkSetEx<UINT32>, ThunkSetEx<UINT64>,
                 SetPtrEx,      ThunkSetEx<BOOLEAN>, CallbackPi,   CallbackPi,    GetNextToken,  GetNextTokenSpace};
}

PcdDatabase::~PcdDatabase() {
  PcdDatabase *Self = this;
  gActive.compare_exchange_strong(Self, nullptr);
}

void PcdDatabase::Activate() { gActive.store(this); }

void PcdDatabase::Set(uint64_t Token, uint64_t Value) {
  std::lock_guard<std::mutex> Guard(Lock_);
  Items_[Token] = Value;
}

uint64_t PcdDatabase::Get(uint64_t Token) const { return Read(nullptr, Token); }

void PcdDatabase::SetEx(const EFI_GUID &Space, uint64_t Token, uint64_t Value) {
  std::lock_guard<std::mutex> Guard(Lock_);
  ExItems_[{SpaceKey(&Space), Token}] = Value;
}

uint64_t PcdDatabase::GetEx(const EFI_GUID &Space, uint64_t Token) const { return Read(&Space, Token); }

uint64_t PcdDatabase::Read(const EFI_GUID *Space, uint64_t Token) const {
  std::lock_guard<std::mutex> Guard(Lock_);
  if (Space == nullptr) {
    auto It = Items_.find(Token);
    return It == Items_.end() ? 0 : It->second;
  }
  auto It = ExItems_.find({SpaceKey(Space), Token});
  return It == ExItems_.end() ? 0 : It->second;
}

EFI_STATUS PcdDatabase::Write(const EFI_GUID *Space, uint64_t Token, uint64_t Value) {
  std::lock_guard<std::mutex> Guard(Lock_);
  if (Space == nullptr) {
    Items_[Token] = Value;
  } else {
    ExItems_[{SpaceKey(Space), Token}] = Value;
  }
  Writes_.push_back({SpaceKey(Space), Token, Value});
  return EFI_SUCCESS;
}

std::vector<PcdWrite> PcdDatabase::Writes() const {
  std::lock_guard<std::mutex> Guard(Lock_);
  return Writes_;
}

std::map<uint64_t, uint64_t> PcdDatabase::Items() const {
  std::lock_guard<std::mutex> Guard(Lock_);
  return Items_;
}

}  // namespace sim
