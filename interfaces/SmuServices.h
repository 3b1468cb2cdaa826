// QORVEX_SMU_SERVICES_PROTOCOL: messages to the system management unit and reads of its
// registers. The widths of Instance and the shape of the answer are this platform's.
#ifndef INTERFACES_SMU_SERVICES_H_
#define INTERFACES_SMU_SERVICES_H_

#include "uefi/Base.h"

// A message carries six argument words, and the unit answers in six words.
constexpr UINTN SMU_MESSAGE_ARGUMENT_COUNT = 6;

typedef struct {
  UINT32 Word[SMU_MESSAGE_ARGUMENT_COUNT];
} SMU_MESSAGE_ARGUMENTS;
static_assert(sizeof(SMU_MESSAGE_ARGUMENTS) == 24, "six 32-bit argument words");

typedef struct _QORVEX_SMU_SERVICES_PROTOCOL QORVEX_SMU_SERVICES_PROTOCOL;

struct _QORVEX_SMU_SERVICES_PROTOCOL {
  // Slots 1 to 3: the record's revision and two services this driver never uses.
  UINT64 Revision;
  EFI_STATUS(EFIAPI *SmuGetFirmwareVersion)(IN QORVEX_SMU_SERVICES_PROTOCOL *This, IN UINTN Instance,
                                            OUT UINT32 *Version);
  EFI_STATUS(EFIAPI *SmuRegisterWrite)(IN QORVEX_SMU_SERVICES_PROTOCOL *This, IN UINTN Instance, IN UINT32 Address,
                                       IN UINT32 Value);
  // Slot 4: sends message MessageId with Arguments and waits for the unit's answer.
  EFI_STATUS(EFIAPI *SmuServiceRequest)(IN QORVEX_SMU_SERVICES_PROTOCOL *This, IN UINTN Instance,
                                        IN UINT32 MessageId, IN CONST SMU_MESSAGE_ARGUMENTS *Arguments,
                                        OUT SMU_MESSAGE_ARGUMENTS *Response);
  // Slot 5: reads one 32-bit register of the unit.
  EFI_STATUS(EFIAPI *SmuRegisterRead)(IN QORVEX_SMU_SERVICES_PROTOCOL *This, IN UINTN Instance, IN UINT32 Address,
                                      OUT UINT32 *Value);
};
static_assert(offsetof(QORVEX_SMU_SERVICES_PROTOCOL, SmuServiceRequest) == 3 * 8, "SmuServiceRequest is entry 4");
static_assert(offsetof(QORVEX_SMU_SERVICES_PROTOCOL, SmuRegisterRead) == 4 * 8, "SmuRegisterRead is entry 5");

#endif  // INTERFACES_SMU_SERVICES_H_
