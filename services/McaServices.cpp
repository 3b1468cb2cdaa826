// The machine-check description. Bank 4 is left out of error reporting: its control register
// starts at 0 and its bit in the global control value is clear. Every other bank reports every
// error. The banks' registers lie in the extended machine-check range, sixteen MSRs per bank.
#include "services/McaServices.h"

namespace CCX_IMAGE_NAMESPACE {
namespace {

constexpr UINT32 kBankMsrBase = 0xC0002000;
constexpr UINT32 kBankMsrStride = 0x10;
constexpr UINT32 kBankOff = 4;
constexpr UINT64 kGlobalControl = 0x0FFFFFEF;
// The status registers hold the layout of the IA-32 machine-check architecture.
constexpr UINT8 kStatusFormatIa32Mca = 2;

constexpr CCX_MCA_BANK_ENTRY Bank(UINT32 Number) {
  return {Number == kBankOff ? 0 : ~0ULL, kBankMsrBase + kBankMsrStride * Number,
          kBankMsrBase + kBankMsrStride * Number + 1, kBankMsrBase + kBankMsrStride * Number + 2,
          kBankMsrBase + kBankMsrStride * Number + 3};
}

constexpr CCX_MCA_BANK_ENTRY kBanks[CCX_MCA_BANK_COUNT] = {
    Bank(0),  Bank(1),  Bank(2),  Bank(3),  Bank(4),  Bank(5),  Bank(6),  Bank(7),  Bank(8),  Bank(9),
    Bank(10), Bank(11), Bank(12), Bank(13), Bank(14), Bank(15), Bank(16), Bank(17), Bank(18), Bank(19),
    Bank(20), Bank(21), Bank(22), Bank(23), Bank(24), Bank(25), Bank(26), Bank(27),
};
static_assert((kGlobalControl >> kBankOff & 1) == 0, "the bank that is off has its global control bit clear");
static_assert(kGlobalControl >> CCX_MCA_BANK_COUNT == 0, "one global control bit per bank, no more");

constexpr CCX_MCA_BANK_INFO kBankInfo = {0, kGlobalControl, 0, kStatusFormatIa32Mca, 0, CCX_MCA_BANK_COUNT, kBanks};

}  // namespace

const QORVEX_CCX_MCA_SERVICES_PROTOCOL gCcxMcaServicesProtocol = {
    QORVEX_CCX_MCA_SERVICES_REVISION,
    GetMcaBankInfo,
};

EFI_STATUS EFIAPI GetMcaBankInfo(QORVEX_CCX_MCA_SERVICES_PROTOCOL *This, CONST CCX_MCA_BANK_INFO **Info) {
  if (Info == nullptr) {
    return EFI_INVALID_PARAMETER;
  }
  *Info = &kBankInfo;
  return EFI_SUCCESS;
}

}  // namespace CCX_IMAGE_NAMESPACE
