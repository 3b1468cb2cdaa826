#include "driver/ProcessorFamily.h"

#include "arch/Cpuid.h"
#include "arch/Processor.h"

namespace CCX_IMAGE_NAMESPACE {

const PROCESSOR_FAMILY_ENTRY ProcessorFamilyTable[kProcessorFamilyCount] = {
    {0x00870F00, 0x13E10000, {0x00, 0x01}, 0x10500, 0x10680},  // family 0x17, models 0x70-0x7F
    {0x00830F00, 0x13E10000, {0x03, 0x01}, 0x10500, 0x10680},  // family 0x17, models 0x30-0x3F
    {0x00A20F00, 0x13E10000, {0x00, 0x01}, 0x10500, 0x10680},  // family 0x19, models 0x20-0x2F
    {0x00B00F00, 0x13B10000, {0x00, 0x02}, 0x10900, 0x10500},  // family 0x1A, models 0x00-0x0F
    {0x00B10F00, 0x13B10000, {0x00, 0x02}, 0x10900, 0x10500},  // family 0x1A, models 0x10-0x1F
    {0x00B20F00, 0x13B10000, {0x00, 0x02}, 0x10900, 0x10500},  // family 0x1A, models 0x20-0x2F
    {0x00B70F00, 0x13B10000, {0x00, 0x02}, 0x10900, 0x10500},  // family 0x1A, models 0x70-0x7F
    {0x00B60F00, 0x13B10000, {0x00, 0x02}, 0x10900, 0x10500},  // family 0x1A, models 0x60-0x6F
};

BOOLEAN MatchProcessorSignature(UINT32 Signature) {
  UINT32 Eax = 0;
  Cpuid(CpuidLeaf::ExtendedSignature, &Eax, nullptr, nullptr, nullptr);
  return (Eax & kProcessorSignatureMask) == Signature ? TRUE : FALSE;
}

BOOLEAN FindProcessorFamilyEntry(const PROCESSOR_FAMILY_ENTRY **Entry) {
  *Entry = nullptr;
  for (UINTN Index = 0; Index < kProcessorFamilyCount; Index++) {
    if (MatchProcessorSignature(ProcessorFamilyTable[Index].Signature)) {
      *Entry = &ProcessorFamilyTable[Index];
      return TRUE;
    }
  }
  return FALSE;
}

UINT32 GetHcuMailboxOffset() {
  const PROCESSOR_FAMILY_ENTRY *Entry = nullptr;
  if (FindProcessorFamilyEntry(&Entry)) {
    return Entry->HcuMailboxOffset;
  }
  return kDefaultHcuMailboxOffset;
}

}  // namespace CCX_IMAGE_NAMESPACE
