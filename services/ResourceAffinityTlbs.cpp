// TLB entries: per sharing group, a data and an instruction entry for level 1 and for level 2,
// with associativity and entry count for 4 KB, 2 MB and 1 GB pages. The figures come from the TLB
// leaves of the processor that runs the call. Level-1 associativities are stored as the processor
// gives them; level-2 ones are 4-bit codes and are decoded. Counts that do not fit a byte are
// stored in units of 256, with the page size's flag saying so.
#include "services/ResourceAffinityServices.h"

#include "arch/Cpuid.h"
#include "arch/Processor.h"
#include "debug/FatalStop.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

// Entry counts from this value on are stored in units of it.
constexpr UINT32 kTlbCountUnit = 256;
constexpr UINT32 kTlbLevel1 = 1;
constexpr UINT32 kTlbLevel2 = 2;

// The TLBs are shared as the caches of their level are: the level-1 data and instruction caches,
// and the level-2 cache for both level-2 TLBs.
constexpr UINT32 kSubLeafL1Data = CpuidLeaf::CacheProperties::SubLeafL1Data;
constexpr UINT32 kSubLeafL1Instruction = CpuidLeaf::CacheProperties::SubLeafL1Instruction;
constexpr UINT32 kSubLeafL2 = CpuidLeaf::CacheProperties::SubLeafL2;

// Associativities by 4-bit code; 0 marks the reserved codes 7 and 9.
constexpr UINT8 kAssociativityByCode[16] = {0, 1, 2, 3, 4, 6, 8, 0, 16, 0, 32, 48, 64, 96, 128, 0xFF};
constexpr UINT32 kReservedCode7 = 7;
constexpr UINT32 kReservedCode9 = 9;

// One page size's figures of one TLB, as the processor reports them.
struct TLB_FIGURES {
  UINT32 Associativity;
  UINT32 Entries;
};

// One TLB entry's figures for the three page sizes, and which of them go through the decoding.
struct TLB_DESCRIPTION {
  UINT32 SubLeaf;
  UINT32 Level;
  BOOLEAN Data;
  BOOLEAN Decoded;
  TLB_FIGURES Pages2M;
  TLB_FIGURES Pages4K;
  TLB_FIGURES Pages1G;
};

template <typename Tlb>
TLB_FIGURES DataFigures(UINT32 Register) {
  return {static_cast<UINT32>(Tlb::DataAssociativity::Get(Register)), static_cast<UINT32>(Tlb::DataEntries::Get(Register))};
}
template <typename Tlb>
TLB_FIGURES InstructionFigures(UINT32 Register) {
  return {static_cast<UINT32>(Tlb::InstructionAssociativity::Get(Register)),
          static_cast<UINT32>(Tlb::InstructionEntries::Get(Register))};
}

VOID SetPair(CCX_AFFINITY_TLB_PAIR &Pair, const TLB_FIGURES &Figures, BOOLEAN Decoded, UINT32 CountFlag,
             UINT32 *Flags) {
  Pair.Associativity = Decoded ? DecodeAssociativity(Figures.Associativity) : static_cast<UINT8>(Figures.Associativity);
  if (Figures.Entries < kTlbCountUnit) {
    Pair.Entries = static_cast<UINT8>(Figures.Entries);
  } else {
    Pair.Entries = static_cast<UINT8>(Figures.Entries / kTlbCountUnit);
    *Flags |= CountFlag;
  }
}

VOID AppendTlbEntry(const TLB_DESCRIPTION &Tlb, const AFFINITY_THREAD_WALK &Walk,
                    CCX_RESOURCE_AFFINITY_TABLE_HEADER *TableHeader, UINT8 **Cursor) {
  const UINT32 Sharing = CacheSharingCount(Tlb.SubLeaf);
  if (Walk.Position % Sharing != 0) {
    return;
  }
  auto *Entry = reinterpret_cast<CCX_AFFINITY_TLB_ENTRY *>(AppendAffinityEntry(CCX_AFFINITY_TYPE_TLB, TableHeader, Cursor));
  if (Entry == nullptr) {
    return;
  }
  UINT32 Flags = CCX_AFFINITY_BASE_FLAGS | (Tlb.Data ? CCX_AFFINITY_FLAG_DATA : CCX_AFFINITY_FLAG_INSTRUCTION);
  Entry->ApicId = Walk.ApicId;
  SetSiblingMap(Entry->SiblingMap, Walk.Position, Sharing);
  Entry->TlbLevel = Tlb.Level;
  SetPair(Tlb.Data ? Entry->DataTlb2M : Entry->InstructionTlb2M, Tlb.Pages2M, Tlb.Decoded,
          CCX_AFFINITY_TLB_FLAG_2M_IN_256, &Flags);
  SetPair(Tlb.Data ? Entry->DataTlb4K : Entry->InstructionTlb4K, Tlb.Pages4K, Tlb.Decoded,
          CCX_AFFINITY_TLB_FLAG_4K_IN_256, &Flags);
  SetPair(Tlb.Data ? Entry->DataTlb1G : Entry->InstructionTlb1G, Tlb.Pages1G, Tlb.Decoded,
          CCX_AFFINITY_TLB_FLAG_1G_IN_256, &Flags);
  Entry->Flags |= Flags;
}

}  // namespace

UINT8 DecodeAssociativity(UINT32 Code) {
  if (Code >= sizeof(kAssociativityByCode) || Code == kReservedCode7 || Code == kReservedCode9) {
    FatalStop(kFatalAffinityBadAssociativity);
    return 0;
  }
  return kAssociativityByCode[Code];
}

EFI_STATUS EFIAPI AddTlbEntries(QORVEX_CCX_RESOURCE_AFFINITY_SERVICES_PROTOCOL *This,
                                CCX_RESOURCE_AFFINITY_TABLE_HEADER *TableHeader, UINT8 **Cursor) {
  if (TableHeader == nullptr || Cursor == nullptr || *Cursor == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  UINT32 L1Pages2M = 0, L1Pages4K = 0, L2Pages2M = 0, L2Pages4K = 0, Pages1GL1 = 0, Pages1GL2 = 0, Unused = 0;
  Cpuid(CpuidLeaf::L1Tlb::Leaf, &L1Pages2M, &L1Pages4K, &Unused, &Unused);
  Cpuid(CpuidLeaf::L2Tlb::Leaf, &L2Pages2M, &L2Pages4K, &Unused, &Unused);
  Cpuid(CpuidLeaf::GigabyteTlb::Leaf, &Pages1GL1, &Pages1GL2, &Unused, &Unused);

  using L1 = CpuidLeaf::L1Tlb;
  using L2 = CpuidLeaf::L2Tlb;
  using G1 = CpuidLeaf::GigabyteTlb;
  const TLB_DESCRIPTION Tlbs[] = {
      {kSubLeafL1Data, kTlbLevel1, TRUE, FALSE, DataFigures<L1>(L1Pages2M), DataFigures<L1>(L1Pages4K),
       DataFigures<G1>(Pages1GL1)},
      {kSubLeafL1Instruction, kTlbLevel1, FALSE, FALSE, InstructionFigures<L1>(L1Pages2M),
       InstructionFigures<L1>(L1Pages4K), InstructionFigures<G1>(Pages1GL1)},
      {kSubLeafL2, kTlbLevel2, TRUE, TRUE, DataFigures<L2>(L2Pages2M), DataFigures<L2>(L2Pages4K),
       DataFigures<G1>(Pages1GL2)},
      {kSubLeafL2, kTlbLevel2, FALSE, TRUE, InstructionFigures<L2>(L2Pages2M), InstructionFigures<L2>(L2Pages4K),
       InstructionFigures<G1>(Pages1GL2)},
  };
  AFFINITY_THREAD_WALK Walk;
  while (AffinityNextThread(&Walk)) {
    for (const TLB_DESCRIPTION &Tlb : Tlbs) {
      AppendTlbEntry(Tlb, Walk, TableHeader, Cursor);
    }
  }
  return TopologyWalkResult("AddTlbEntries", Walk.At);
}

}  // namespace CCX_IMAGE_NAMESPACE
