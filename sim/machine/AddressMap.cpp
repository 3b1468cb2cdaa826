#include "sim/machine/AddressMap.h"

#include <algorithm>
#include <numeric>
#include <string>
#include <vector>

#include "arch/Chipset.h"
#include "arch/Cpuid.h"
#include "arch/Hcu.h"
#include "arch/Msr.h"
#include "arch/PciEcam.h"
#include "sim/HexText.h"
#include "sim/machine/JsonFields.h"
#include "sim/machine/Machine.h"

namespace sim {
namespace {

constexpr unsigned kArchitecturalAddressBits = 52;
// The boot processor is processor 0 in walk order.
constexpr size_t kBspIndex = 0;
constexpr uint32_t kMaxSegments = 8;
constexpr uint64_t kBusesPerSegment = PciEcam::Offset::Bus::Max + 1;

// The member of an "msrs" or "cpuid" object that gives Number (an MSR, or a leaf as a whole),
// whichever way its key writes the number.
std::optional<JsonCursor> NumberedMember(const JsonCursor &Object, uint32_t Number) {
  for (const auto &[Key, Unused] : Object.Value().items()) {
    uint64_t Parsed = 0;
    if (ParseUnsigned(Key, Parsed) && Parsed == Number) return Object.Field(Key);
  }
  return std::nullopt;
}

// Where the BSP's physical address width comes from: "map.json: cpuid.0x80000008 EAX bits 7:0".
std::string WidthSource(const JsonCursor &Root) {
  const auto Named = [](const JsonCursor &Leaf) { return Leaf.Where() + " EAX bits 7:0"; };
  if (Root.Has("processors")) {
    const JsonCursor List = Root.Field("processors");
    for (size_t Index = 0; Index < List.Value().size(); Index++) {
      const JsonCursor Entry = List.Element(Index);
      if (Entry.Field("index").Unsigned() != 0 || !Entry.Has("cpuid")) continue;
      if (const auto Leaf = NumberedMember(Entry.Field("cpuid"), CpuidLeaf::AddressSizes)) return Named(*Leaf);
    }
  }
  if (Root.Has("cpuid")) {
    if (const auto Leaf = NumberedMember(Root.Field("cpuid"), CpuidLeaf::AddressSizes)) return Named(*Leaf);
  }
  return "the architectural width; the description gives no cpuid 0x80000008";
}

// The field that gives the BSP its reset value of MSR Number: its own entry in "processors", its
// socket's in "socket_msrs", or "msrs", the first that has one (the order in which they override).
std::optional<JsonCursor> BspMsrField(const JsonCursor &Root, uint32_t Number) {
  const struct {
    const char *List;
    const char *IndexKey;
  } kOverrides[] = {{"processors", "index"}, {"socket_msrs", "socket"}};
  for (const auto &Override : kOverrides) {
    if (!Root.Has(Override.List)) continue;
    const JsonCursor List = Root.Field(Override.List);
    for (size_t Index = 0; Index < List.Value().size(); Index++) {
      const JsonCursor Entry = List.Element(Index);
      if (Entry.Field(Override.IndexKey).Unsigned() != 0 || !Entry.Has("msrs")) continue;
      if (std::optional<JsonCursor> Member = NumberedMember(Entry.Field("msrs"), Number)) return Member;
    }
  }
  return Root.Has("msrs") ? NumberedMember(Root.Field("msrs"), Number) : std::nullopt;
}

// One range of the map: what it is at the field that gives it (when a file gives it), and what
// it is as an error at another field names it.
struct MappedRange {
  uint64_t Base = 0;
  uint64_t Size = 0;
  std::string Own;
  std::string Elsewhere;
  std::optional<JsonCursor> Field;

  uint64_t Last() const { return Base + Size - 1; }
  std::string Span() const { return " (" + Hex(Base) + "-" + Hex(Last()) + ")"; }
};

std::optional<JsonCursor> FieldIfGiven(const JsonCursor &Root, const char *Object, const char *Member) {
  if (!Root.Has(Object) || !Root.Field(Object).Has(Member)) return std::nullopt;
  return Root.Field(Object).Field(Member);
}

std::vector<MappedRange> RangesOf(const JsonCursor &Root, const Machine &Description,
                                  const std::optional<JsonCursor> &WindowField) {
  std::vector<MappedRange> Ranges;
  const auto Add = [&Ranges](uint64_t Base, uint64_t Size, const std::string &Own, const std::string &Elsewhere,
                             std::optional<JsonCursor> Field) {
    if (Size != 0) Ranges.push_back({Base, Size, Own, Elsewhere, std::move(Field)});
  };
  if (Root.Has("memory")) {
    const JsonCursor Dram = Root.Field("memory").Field("dram");
    for (size_t Index = 0; Index < Description.Dram.size(); Index++) {
      const JsonCursor Entry = Dram.Element(Index);
      Add(Description.Dram[Index].base, Description.Dram[Index].length, "the range", Entry.Path(), Entry);
    }
  }
  if (Root.Has("smram")) {
    const JsonCursor Smram = Root.Field("smram");
    for (size_t Index = 0; Index < Description.Smram.size(); Index++) {
      const JsonCursor Entry = Smram.Element(Index);
      Add(Description.Smram[Index].Base, Description.Smram[Index].Size, "the range", Entry.Path(), Entry);
    }
  }
  if (const std::optional<PciConfigurationWindow> Window = ConfigurationWindowOf(Description)) {
    Add(Window->Base, Window->Segments * PciEcam::SegmentWindowSize, "the PCI configuration window",
        "the PCI configuration window of " + (WindowField ? WindowField->Path() : std::string("MSR 0xC0010058")),
        WindowField);
  }
  if (Description.Coprocessor.Present) {
    Add(Description.Coprocessor.MmioBase, Hcu::MmioBlockSize, "the coprocessor's MMIO block",
        "the coprocessor's MMIO block", FieldIfGiven(Root, "coprocessor", "mmio_base"));
  }
  const std::optional<JsonCursor> Pool =
      FieldIfGiven(Root, "mmio_pool", Root.Has("mmio_pool") && Root.Field("mmio_pool").Has("base") ? "base" : "size");
  Add(Description.MmioPool.Base, Description.MmioPool.Size, "the fabric MMIO pool", "the fabric MMIO pool", Pool);
  Add(Chipset::MiscRangeBase, Chipset::MiscRangeSize, "", "the chipset's registers", std::nullopt);
  Add(Chipset::SerialRangeBase, Chipset::SerialRangeSize, "", "the chipset's serial registers", std::nullopt);
  return Ranges;
}

}  // namespace

std::optional<PciConfigurationWindow> ConfigurationWindowOf(const Machine &Description) {
  const std::optional<uint64_t> Register = Description.Processors.ResetMsr(kBspIndex, Msr::MmioCfgBase::Number);
  if (!Register) return std::nullopt;
  const uint64_t Buses = uint64_t(1) << Msr::MmioCfgBase::BusRange::Get(*Register);
  const uint64_t Needed = (Buses + kBusesPerSegment - 1) / kBusesPerSegment;
  return PciConfigurationWindow{Msr::MmioCfgBase::Control::Set(*Register, 0),
                                static_cast<uint32_t>(std::min<uint64_t>(Needed, kMaxSegments))};
}

unsigned PhysicalAddressBits(const Machine &Description) {
  const std::optional<CpuidValue> Sizes = Description.Processors.CpuidAnswer(kBspIndex, CpuidLeaf::AddressSizes, 0);
  const unsigned Bits =
      Sizes ? unsigned(CpuidLeaf::AddressSizeFields::EaxPhysicalAddressBits::Get(Sizes->Eax)) : 0;
  return Bits == 0 || Bits > kArchitecturalAddressBits ? kArchitecturalAddressBits : Bits;
}

void CheckAddressMap(const JsonCursor &Root, const Machine &Description) {
  const std::optional<JsonCursor> WindowField = BspMsrField(Root, Msr::MmioCfgBase::Number);
  const std::optional<PciConfigurationWindow> Window = ConfigurationWindowOf(Description);
  if (!Window || !WindowField) {
    (Root.Has("msrs") ? Root.Field("msrs") : Root)
        .Fail("the processors need MSR 0xC0010058 (the PCI configuration base): the driver finds the processors' "
              "configuration registers through it, and without it reads 0 there; give it in \"msrs\", e.g. "
              "\"0xC0010058\": \"0x000003FB00000021\"");
  }
  if (Window->Base % PciEcam::SegmentWindowSize != 0) {
    WindowField->Fail("the PCI configuration window starts at " + Hex(Window->Base) +
                      ", which is not 256 MB aligned (bits 27:20 of MSR 0xC0010058 are 0)");
  }

  const unsigned Bits = PhysicalAddressBits(Description);
  std::vector<MappedRange> Ranges = RangesOf(Root, Description, WindowField);
  for (const MappedRange &Range : Ranges) {
    if (Range.Base + Range.Size > Range.Base && Range.Last() >> Bits == 0) continue;
    const std::string Beyond = " ends above the processor's physical address space of " + std::to_string(Bits) +
                               " bits (" + WidthSource(Root) + ")";
    if (Range.Field) Range.Field->Fail(Range.Own + Range.Span() + Beyond);
    Root.Fail(Range.Elsewhere + Range.Span() + Beyond);
  }

  // In the order of their bases, a range overlaps another when it starts before the farthest end
  // of those before it.
  std::vector<size_t> Order(Ranges.size());
  std::iota(Order.begin(), Order.end(), size_t(0));
  std::stable_sort(Order.begin(), Order.end(), [&](size_t A, size_t B) { return Ranges[A].Base < Ranges[B].Base; });
  for (size_t Step = 1, Farthest = Order.empty() ? 0 : Order[0]; Step < Order.size(); Step++) {
    const MappedRange &Range = Ranges[Order[Step]];
    const MappedRange &Before = Ranges[Farthest];
    if (Range.Base <= Before.Last()) {
      // Named at the field a file gave, the later one in the description if both are.
      const bool AtRange = Range.Field.has_value() && (!Before.Field || Order[Step] > Farthest);
      const MappedRange &Named = AtRange ? Range : Before;
      const MappedRange &Other = AtRange ? Before : Range;
      const std::string Overlap = " overlaps " + Other.Elsewhere + Other.Span();
      if (Named.Field) Named.Field->Fail(Named.Own + Named.Span() + Overlap);
      Root.Fail(Named.Elsewhere + Named.Span() + Overlap);
    }
    if (Range.Last() > Before.Last()) Farthest = Order[Step];
  }
}

}  // namespace sim
