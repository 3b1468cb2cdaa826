// Where the security coprocessor's registers lie on each processor family.
#ifndef DRIVER_PROCESSOR_FAMILY_H_
#define DRIVER_PROCESSOR_FAMILY_H_

#include "arch/ImageNamespace.h"
#include "uefi/Base.h"

namespace CCX_IMAGE_NAMESPACE {

#pragma pack(push, 1)
struct PROCESSOR_FAMILY_ENTRY {
  UINT32 Signature;
  UINT32 HcuSidebandBlock;
  UINT8 Reserved[2];
  UINT32 HcuMailboxOffset;
  UINT32 Reserved2;
};
#pragma pack(pop)
static_assert(sizeof(PROCESSOR_FAMILY_ENTRY) == 18, "a family row is 18 bytes");

constexpr UINTN kProcessorFamilyCount = 8;
extern const PROCESSOR_FAMILY_ENTRY ProcessorFamilyTable[kProcessorFamilyCount];

// Extended family, extended model and base family of CPUID 0x80000001 EAX.
constexpr UINT32 kProcessorSignatureMask = 0x0FFF0F00;
constexpr UINT32 kDefaultHcuMailboxOffset = 0x10500;
constexpr UINT32 kDefaultHcuSidebandBlock = 0x13B10000;

BOOLEAN MatchProcessorSignature(UINT32 Signature);
BOOLEAN FindProcessorFamilyEntry(const PROCESSOR_FAMILY_ENTRY **Entry);
UINT32 GetHcuMailboxOffset();

}  // namespace CCX_IMAGE_NAMESPACE

#endif  // DRIVER_PROCESSOR_FAMILY_H_
