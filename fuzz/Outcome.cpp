#include "fuzz/Outcome.h"

#include "sim/cpu/ProcessorSet.h"

namespace fuzz {
namespace {

// FNV-1a over everything observed, in order.
constexpr uint64_t kOffsetBasis = 0xCBF29CE484222325ULL;
constexpr uint64_t kPrime = 0x100000001B3ULL;
uint64_t Digest = kOffsetBasis;

}  // namespace

void ObserveBytes(const void *Bytes, size_t Size) {
  const auto *Byte = static_cast<const uint8_t *>(Bytes);
  for (size_t Index = 0; Index < Size; Index++) Digest = (Digest ^ Byte[Index]) * kPrime;
}

void Observe(uint64_t Value) { ObserveBytes(&Value, sizeof(Value)); }

void ObserveText(const std::string &Text) {
  Observe(Text.size());
  ObserveBytes(Text.data(), Text.size());
}

void ObservePlatform(sim::Platform &Platform, const sim::BootEnd &End) {
  Observe(End.How);
  Observe(End.Code);
  for (const sim::MemoryRange &Range : Platform.Core().Memory().Map()) {
    Observe(Range.base);
    Observe(Range.pages);
    Observe(Range.type);
  }
  for (const sim::InstalledProtocol &Entry : Platform.Core().InstalledProtocols()) {
    ObserveBytes(&Entry.guid, sizeof(Entry.guid));
  }
  for (size_t Index = 0; Index < Platform.Processors().Count(); Index++) {
    for (const sim::MsrWrite &Write : Platform.Processors().At(Index).MsrWrites()) {
      Observe(Write.Msr);
      Observe(Write.Old);
      Observe(Write.New);
    }
  }
  for (const sim::PostCodeWrite &Write : Platform.Devices().PostCodes().Writes()) {
    Observe(Write.Port);
    Observe(Write.Value);
  }
  for (const sim::PcdWrite &Write : Platform.Pcd().Writes()) {
    Observe(Write.Token);
    Observe(Write.Value);
  }
}

void ObserveBoot(const sim::BootRecord &Boot) {
  Observe(Boot.End.How);
  Observe(Boot.End.Code);
  Observe(Boot.EntryStatus.value_or(~0ULL));
  Observe(Boot.ProcessorCount);
  for (const std::string &Step : Boot.Steps) ObserveText(Step);
  for (const sim::InstalledEntry &Entry : Boot.Installed) ObserveText(Entry.Protocol);
  for (const auto &[Port, Value] : Boot.PostCodes) {
    Observe(Port);
    Observe(Value);
  }
  for (const sim::MsrChange &Change : Boot.MsrChanges) {
    Observe(Change.Msr);
    Observe(Change.Before);
    Observe(Change.After);
    for (size_t Processor : Change.Processors) Observe(Processor);
  }
  for (const auto &[Name, Data] : Boot.Variables) {
    ObserveText(Name);
    ObserveBytes(Data.data(), Data.size());
  }
  for (const auto &[Token, Value] : Boot.PcdWrites) {
    Observe(Token);
    Observe(Value);
  }
  ObserveText(Boot.Uart3F8);
  for (const sim::HeapBufferView &Buffer : Boot.Heap.Buffers) {
    Observe(Buffer.Handle);
    Observe(Buffer.Size);
    Observe(Buffer.Address);
    ObserveBytes(Buffer.FirstBytes.data(), Buffer.FirstBytes.size());
  }
}

uint64_t TakeOutcome() {
  const uint64_t Taken = Digest;
  Digest = kOffsetBasis;
  return Taken;
}

}  // namespace fuzz
