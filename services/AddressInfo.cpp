// The address-information service: two address-size facts of the processor.
#include "services/ServiceProtocols.h"

#include "arch/Cpuid.h"
#include "arch/Processor.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

UINT8 EFIAPI GetPhysicalAddressBits() {
  UINT32 Eax = 0;
  Cpuid(CpuidLeaf::AddressSizes, &Eax, nullptr, nullptr, nullptr);
  UINT32 Bits = static_cast<UINT32>(CpuidLeaf::AddressSizeFields::EaxPhysicalAddressBits::Get(Eax));
  UINT32 MaxExtended = 0;
  Cpuid(CpuidLeaf::ExtendedMax, &MaxExtended, nullptr, nullptr, nullptr);
  if (MaxExtended >= CpuidLeaf::EncryptedMemory::Leaf) {
    // Memory encryption takes address bits from the top.
    UINT32 Ebx = 0;
    Cpuid(CpuidLeaf::EncryptedMemory::Leaf, nullptr, &Ebx, nullptr, nullptr);
    Bits -= static_cast<UINT32>(CpuidLeaf::EncryptedMemory::EbxPhysAddrReduction::Get(Ebx));
  }
  return static_cast<UINT8>(Bits);
}

UINT32 EFIAPI GetApicIdSizeScaled() {
  UINT32 Ecx = 0;
  Cpuid(CpuidLeaf::AddressSizes, nullptr, nullptr, &Ecx, nullptr);
  return 4U << CpuidLeaf::AddressSizeFields::EcxApicIdSize::Get(Ecx);
}

}  // namespace

const QORVEX_CCX_ADDRESS_INFO_PROTOCOL gCcxAddressInfoProtocol = {
    QORVEX_CCX_ADDRESS_INFO_REVISION,
    GetPhysicalAddressBits,
    GetApicIdSizeScaled,
};

}  // namespace CCX_IMAGE_NAMESPACE
