#include "sim/oracle/ResourceAffinityOracle.h"

#include <optional>
#include <type_traits>

#include "arch/Cpuid.h"
#include "sim/oracle/ResourceAffinityWalk.h"

namespace sim {
namespace {

using Caches = CpuidLeaf::CacheProperties;

// A leaf that never reports the end of its cache list still describes no more caches than this.
constexpr uint32_t kMostCacheSubLeaves = 32;
constexpr uint32_t kEntriesUnit = 256;
constexpr uint32_t kNoDomain = 0xFFFFFFFF;

uint32_t SharingCount(const CpuidValue &Cache) {
  return static_cast<uint32_t>(Caches::EaxNumSharingCacheMinusOne::Get(Cache.Eax)) + 1;
}

// The caches the BSP lists, in sub-leaf order, up to the first of type 0.
std::vector<CpuidValue> CacheList(const Processor &Bsp) {
  std::vector<CpuidValue> List;
  for (uint32_t SubLeaf = 0; SubLeaf < kMostCacheSubLeaves; SubLeaf++) {
    const CpuidValue Cache = Bsp.Cpuid(Caches::Leaf, SubLeaf);
    if (Caches::EaxCacheType::Get(Cache.Eax) == Caches::TypeNone) break;
    List.push_back(Cache);
  }
  return List;
}

CCX_AFFINITY_CACHE_ENTRY CacheFields(const CpuidValue &Cache) {
  CCX_AFFINITY_CACHE_ENTRY Entry{};
  Entry.Entry = {CCX_AFFINITY_TYPE_CACHE, sizeof(CCX_AFFINITY_CACHE_ENTRY)};
  const uint64_t Type = Caches::EaxCacheType::Get(Cache.Eax);
  Entry.Flags = CCX_AFFINITY_BASE_FLAGS;
  if (Type != Caches::TypeInstruction) Entry.Flags |= CCX_AFFINITY_FLAG_DATA;
  if (Type != Caches::TypeData) Entry.Flags |= CCX_AFFINITY_FLAG_INSTRUCTION;
  const uint32_t Ways = static_cast<uint32_t>(Caches::EbxWaysMinusOne::Get(Cache.Ebx)) + 1;
  const uint32_t LineSize = static_cast<uint32_t>(Caches::EbxLineSizeMinusOne::Get(Cache.Ebx)) + 1;
  const uint32_t Sets = static_cast<uint32_t>(Caches::EcxSetsMinusOne::Get(Cache.Ecx)) + 1;
  // Ways × line size × sets, in 32-bit arithmetic as the size field is defined; partitions do not
  // take part.
  Entry.CacheSizeInKb = Ways * LineSize * Sets / 1024;
  Entry.CacheLevel = static_cast<UINT8>(Caches::EaxCacheLevel::Get(Cache.Eax));
  Entry.Byte49 = CCX_AFFINITY_CACHE_BYTE49;
  Entry.LineSize = static_cast<UINT16>(LineSize);
  Entry.Associativity = Caches::EaxFullyAssociative::IsSet(Cache.Eax) ? 0xFF : static_cast<UINT8>(Ways);
  Entry.InclusiveFlag = static_cast<UINT8>(Cache.Edx & Caches::EdxInclusiveMask);
  Entry.Word54 = CCX_AFFINITY_CACHE_WORD54;
  return Entry;
}

// An entry count that does not fit a byte is stored in units of 256, with the pair's flag set.
CCX_AFFINITY_TLB_PAIR TlbPair(uint64_t Associativity, uint64_t Entries, UINT32 InUnitsFlag, UINT32 &Flags) {
  if (Entries >= kEntriesUnit) {
    Flags |= InUnitsFlag;
    Entries /= kEntriesUnit;
  }
  return {static_cast<UINT8>(Associativity), static_cast<UINT8>(Entries)};
}

// One TLB entry of the four, with the sub-leaf of the cache-properties leaf whose sharing count
// groups it.
struct TlbKind {
  CCX_AFFINITY_TLB_ENTRY Fields{};
  uint32_t SharingSubLeaf = 0;
};

// The level-1 leaf (0x80000005) stores associativities as they stand; the level-2 leaf
// (0x80000006) stores them as 4-bit codes. The 1 GB leaf gives the level-1 pairs in EAX and the
// level-2 pairs in EBX, decoded as the level they belong to. EAX of a TLB leaf holds the 2 MB
// pairs and EBX the 4 KB pairs.
template <typename Leaf, bool Data>
TlbKind MakeTlbKind(const Processor &Bsp, UINT32 Level, uint32_t SharingSubLeaf) {
  using Gig = CpuidLeaf::GigabyteTlb;
  using Associativity =
      std::conditional_t<Data, typename Leaf::DataAssociativity, typename Leaf::InstructionAssociativity>;
  using Entries = std::conditional_t<Data, typename Leaf::DataEntries, typename Leaf::InstructionEntries>;
  using GigAssociativity = std::conditional_t<Data, Gig::DataAssociativity, Gig::InstructionAssociativity>;
  using GigEntries = std::conditional_t<Data, Gig::DataEntries, Gig::InstructionEntries>;
  TlbKind Kind;
  Kind.SharingSubLeaf = SharingSubLeaf;
  CCX_AFFINITY_TLB_ENTRY &Entry = Kind.Fields;
  Entry.Entry = {CCX_AFFINITY_TYPE_TLB, sizeof(CCX_AFFINITY_TLB_ENTRY)};
  Entry.Flags = CCX_AFFINITY_BASE_FLAGS | (Data ? CCX_AFFINITY_FLAG_DATA : CCX_AFFINITY_FLAG_INSTRUCTION);
  Entry.TlbLevel = Level;
  const bool Coded = Level == 2;
  auto Ways = [Coded](uint64_t Value) { return Coded ? DecodedTlbAssociativity(static_cast<uint32_t>(Value)) : Value; };
  const CpuidValue Tlbs = Bsp.Cpuid(Leaf::Leaf, 0);
  const CpuidValue Gigs = Bsp.Cpuid(Gig::Leaf, 0);
  const uint32_t GigPairs = Coded ? Gigs.Ebx : Gigs.Eax;
  const CCX_AFFINITY_TLB_PAIR Pair2M =
      TlbPair(Ways(Associativity::Get(Tlbs.Eax)), Entries::Get(Tlbs.Eax), CCX_AFFINITY_TLB_FLAG_2M_IN_256, Entry.Flags);
  const CCX_AFFINITY_TLB_PAIR Pair4K =
      TlbPair(Ways(Associativity::Get(Tlbs.Ebx)), Entries::Get(Tlbs.Ebx), CCX_AFFINITY_TLB_FLAG_4K_IN_256, Entry.Flags);
  const CCX_AFFINITY_TLB_PAIR Pair1G = TlbPair(Ways(GigAssociativity::Get(GigPairs)), GigEntries::Get(GigPairs),
                                               CCX_AFFINITY_TLB_FLAG_1G_IN_256, Entry.Flags);
  (Data ? Entry.DataTlb2M : Entry.InstructionTlb2M) = Pair2M;
  (Data ? Entry.DataTlb4K : Entry.InstructionTlb4K) = Pair4K;
  (Data ? Entry.DataTlb1G : Entry.InstructionTlb1G) = Pair1G;
  return Kind;
}

// The four TLB entries in the order each position appends them.
std::array<TlbKind, 4> TlbKinds(const Processor &Bsp) {
  return {MakeTlbKind<CpuidLeaf::L1Tlb, true>(Bsp, 1, Caches::SubLeafL1Data),
          MakeTlbKind<CpuidLeaf::L1Tlb, false>(Bsp, 1, Caches::SubLeafL1Instruction),
          MakeTlbKind<CpuidLeaf::L2Tlb, true>(Bsp, 2, Caches::SubLeafL2),
          MakeTlbKind<CpuidLeaf::L2Tlb, false>(Bsp, 2, Caches::SubLeafL2)};
}

// A service whose walk lost its counts has not met every processor, and says so.
EFI_STATUS WalkResult(const AffinityThreadWalk &Walk) { return Walk.LostItsCounts() ? EFI_DEVICE_ERROR : EFI_SUCCESS; }

uint32_t ApicIdAt(Platform &Machine, const AffinityThreadWalk &Walk) {
  // The processors are numbered in walk order.
  return Machine.Processors().At(Walk.Number()).ApicId();
}

EFI_STATUS ExpectComputeUnits(Platform &Machine, AffinitySiblingAnswers &Answers,
                              std::vector<CCX_AFFINITY_COMPUTE_UNIT_ENTRY> &Units) {
  // A failed domain query leaves the domain of the complex before; the first complex has none.
  uint32_t Domain = kNoDomain;
  uint32_t Previous = kNoDomain;
  AffinityThreadWalk Walk(Answers);
  while (const std::optional<unsigned> Code = Walk.Next()) {
    if (*Code <= kWalkStepComplex) {
      if (const std::optional<uint32_t> Answer = Answers.ProximityDomain(Walk.Position())) Domain = *Answer;
      if (Domain != Previous) {
        CCX_AFFINITY_COMPUTE_UNIT_ENTRY Unit{};
        Unit.Entry = {CCX_AFFINITY_TYPE_COMPUTE_UNIT, sizeof(CCX_AFFINITY_COMPUTE_UNIT_ENTRY)};
        Unit.Flags = CCX_AFFINITY_COMPUTE_UNIT_FLAGS;
        Unit.ProximityDomain = Domain;
        Unit.ApicId = ApicIdAt(Machine, Walk);
        Unit.Byte28 = CCX_AFFINITY_COMPUTE_UNIT_BYTE28;
        Units.push_back(Unit);
        Previous = Domain;
      }
    }
    if (Units.empty()) return EFI_NO_MAPPING;
    Units.back().ThreadCount++;
  }
  return WalkResult(Walk);
}

EFI_STATUS ExpectCaches(Platform &Machine, AffinitySiblingAnswers &Answers,
                        std::vector<ExpectedSharedEntry<CCX_AFFINITY_CACHE_ENTRY>> &Entries) {
  const std::vector<CpuidValue> List = CacheList(Machine.Processors().Bsp());
  std::vector<CCX_AFFINITY_CACHE_ENTRY> Fields;
  for (const CpuidValue &Cache : List) Fields.push_back(CacheFields(Cache));
  AffinityThreadWalk Walk(Answers);
  while (Walk.Next()) {
    for (size_t Index = 0; Index < List.size(); Index++) {
      const uint32_t Sharing = SharingCount(List[Index]);
      if (Walk.Number() % Sharing != 0) continue;
      ExpectedSharedEntry<CCX_AFFINITY_CACHE_ENTRY> &Entry = Entries.emplace_back();
      Entry.Fields = Fields[Index];
      Entry.Fields.ApicId = ApicIdAt(Machine, Walk);
      Entry.Map = SiblingMapFor(Walk.Number(), Sharing);
      Entry.Position = Walk.Number();
    }
  }
  return WalkResult(Walk);
}

EFI_STATUS ExpectTlbs(Platform &Machine, AffinitySiblingAnswers &Answers,
                      std::vector<ExpectedSharedEntry<CCX_AFFINITY_TLB_ENTRY>> &Entries) {
  const Processor &Bsp = Machine.Processors().Bsp();
  const std::array<TlbKind, 4> Kinds = TlbKinds(Bsp);
  std::array<uint32_t, 4> Sharing{};
  for (size_t Index = 0; Index < Kinds.size(); Index++) {
    Sharing[Index] = SharingCount(Bsp.Cpuid(Caches::Leaf, Kinds[Index].SharingSubLeaf));
  }
  AffinityThreadWalk Walk(Answers);
  while (Walk.Next()) {
    for (size_t Index = 0; Index < Kinds.size(); Index++) {
      if (Walk.Number() % Sharing[Index] != 0) continue;
      ExpectedSharedEntry<CCX_AFFINITY_TLB_ENTRY> &Entry = Entries.emplace_back();
      Entry.Fields = Kinds[Index].Fields;
      Entry.Fields.ApicId = ApicIdAt(Machine, Walk);
      Entry.Map = SiblingMapFor(Walk.Number(), Sharing[Index]);
      Entry.Position = Walk.Number();
    }
  }
  return WalkResult(Walk);
}

}  // namespace

ExpectedSiblingMap SiblingMapFor(uint32_t First, uint32_t Sharing) {
  ExpectedSiblingMap Map;
  constexpr uint32_t kBytes = static_cast<uint32_t>(sizeof(Map.Bytes));
  const uint32_t Byte = First / 8;
  if (Byte >= kBytes) return Map;
  // The map's own rule writes one byte: a group of up to eight threads as its bits from the first
  // position's bit upward, cut to the byte; a wider group as 0xFF. Where that byte loses members
  // or marks positions of another group, marking exactly the group's members, byte by byte over
  // every byte it reaches, is the sound reading and is taken as well; so is leaving the further
  // bytes of the group clear.
  Map.Bytes[Byte] = Sharing <= 8 ? static_cast<uint8_t>(((1U << Sharing) - 1) << (First % 8)) : 0xFF;
  const uint64_t End = uint64_t{First} + Sharing;
  for (uint32_t Index = 0; Index < kBytes; Index++) {
    uint8_t Members = 0;
    for (uint32_t Bit = 0; Bit < 8; Bit++) {
      const uint64_t Position = uint64_t{Index} * 8 + Bit;
      if (Position >= First && Position < End) Members = static_cast<uint8_t>(Members | (1U << Bit));
    }
    Map.Alternative[Index] = Members;
  }
  return Map;
}

uint8_t DecodedTlbAssociativity(uint32_t Code) {
  constexpr std::array<uint8_t, 16> kWays = {0, 1, 2, 3, 4, 6, 8, 0, 16, 0, 32, 48, 64, 96, 128, 0xFF};
  return Code < kWays.size() ? kWays[Code] : 0;
}

ResourceAffinityExpectation ExpectResourceAffinity(Platform &Machine) {
  ResourceAffinityExpectation Expected;
  AffinitySiblingAnswers Answers(Machine);
  Expected.ComputeUnitStatus = ExpectComputeUnits(Machine, Answers, Expected.ComputeUnits);
  Expected.CacheStatus = ExpectCaches(Machine, Answers, Expected.Caches);
  Expected.TlbStatus = ExpectTlbs(Machine, Answers, Expected.Tlbs);
  return Expected;
}

}  // namespace sim
