// QORVEX_CCX_ACPI_SERVICES_PROTOCOL: what the builder of the processors' ACPI power objects needs,
// namely each socket's APIC IDs with its enabled P-states, a record of power-state settings, and
// thread-to-core conversion. The results live in heap buffers under fixed handles so that the
// caller and later phases find them again; the layouts below are what those readers parse.
#ifndef INTERFACES_CCX_ACPI_SERVICES_H_
#define INTERFACES_CCX_ACPI_SERVICES_H_

#include "uefi/Base.h"

typedef struct _QORVEX_CCX_ACPI_SERVICES_PROTOCOL QORVEX_CCX_ACPI_SERVICES_PROTOCOL;
typedef struct PSTATE_INFO_HEADER PSTATE_INFO_HEADER;
typedef struct POWER_STATE_RECORD POWER_STATE_RECORD;

struct _QORVEX_CCX_ACPI_SERVICES_PROTOCOL {
  UINT64 Revision;
  // Builds the P-state information buffer and hands back its address.
  EFI_STATUS(EFIAPI *GetPstateInfo)(IN QORVEX_CCX_ACPI_SERVICES_PROTOCOL *This,
                                    OUT PSTATE_INFO_HEADER **PstateInfo);
  // Builds the power-state record and hands back its address.
  EFI_STATUS(EFIAPI *GetPowerStateInfo)(IN QORVEX_CCX_ACPI_SERVICES_PROTOCOL *This,
                                        OUT POWER_STATE_RECORD **PowerState);
  // The number of cores that a count of threads occupies.
  UINT32(EFIAPI *ThreadsToCores)(IN QORVEX_CCX_ACPI_SERVICES_PROTOCOL *This, IN UINT32 Threads);
  // The power of one P-state in milliwatts; a disabled P-state leaves the caller's value as it was.
  EFI_STATUS(EFIAPI *GetPstatePower)(IN QORVEX_CCX_ACPI_SERVICES_PROTOCOL *This, IN UINT32 Pstate,
                                     OUT UINT64 *PowerInMilliwatts);
};

constexpr UINT64 QORVEX_CCX_ACPI_SERVICES_REVISION = 0;

// Heap handles of the two results, each allocated once per boot.
constexpr UINT32 HEAP_HANDLE_PSTATE_INFO = 0xA02D;
constexpr UINT32 HEAP_HANDLE_POWER_STATE = 0xA034;

// The most APIC IDs one socket record holds.
constexpr UINT32 PSTATE_MAX_APIC_IDS = 512;

#pragma pack(push, 1)

// One enabled P-state. Unused entries stay all zero, which is how a reader finds the end.
typedef struct {
  UINT32 Valid;
  UINT32 FrequencyInMHz;
  UINT32 PowerInMilliwatts;
  UINT32 PstateNumber;
} PSTATE_ENTRY;

// The P-state information buffer begins with this header; the socket records follow at once.
struct PSTATE_INFO_HEADER {
  UINT8 SocketCount;
  UINT32 BufferSize;
};

// The fixed part of one socket's record. PstateMaxVal + 1 PSTATE_ENTRYs follow it directly, so a
// record's length depends on the highest P-state number; walk records with the helpers below.
typedef struct {
  UINT8 Socket;
  UINT16 ApicIdCount;
  UINT8 PstateObjectsValid;
  UINT32 ApicId[PSTATE_MAX_APIC_IDS];
  UINT8 PstateMaxVal;
  UINT32 Reserved;
  UINT8 PolicyFlag;
} PSTATE_SOCKET_RECORD;

struct POWER_STATE_RECORD {
  UINT8 Enabled;
  UINT32 IoBaseAddress;
  UINT8 MultiThreaded;
  UINT8 AlwaysOne;
  UINT16 PowerStateWord1;
  UINT16 PowerStateWord2;
  UINT16 PowerStateWord3;
  UINT8 Reserved[2];
};

#pragma pack(pop)

static_assert(sizeof(PSTATE_ENTRY) == 16, "a PSTATE_ENTRY is four 32-bit fields");
static_assert(sizeof(PSTATE_INFO_HEADER) == 5, "the socket records start at offset 5");
static_assert(offsetof(PSTATE_INFO_HEADER, BufferSize) == 1, "buffer size at offset 1");
static_assert(offsetof(PSTATE_SOCKET_RECORD, ApicIdCount) == 0x001, "APIC ID count at 0x001");
static_assert(offsetof(PSTATE_SOCKET_RECORD, PstateObjectsValid) == 0x003, "P-state objects flag at 0x003");
static_assert(offsetof(PSTATE_SOCKET_RECORD, ApicId) == 0x004, "APIC ID list at 0x004");
static_assert(offsetof(PSTATE_SOCKET_RECORD, PstateMaxVal) == 0x804, "highest P-state number at 0x804");
static_assert(offsetof(PSTATE_SOCKET_RECORD, Reserved) == 0x805, "zero word at 0x805");
static_assert(offsetof(PSTATE_SOCKET_RECORD, PolicyFlag) == 0x809, "policy flag at 0x809");
static_assert(sizeof(PSTATE_SOCKET_RECORD) == 0x80A, "the P-state list starts at 0x80A");
static_assert(sizeof(POWER_STATE_RECORD) == 15, "POWER_STATE_RECORD is 15 bytes");
static_assert(offsetof(POWER_STATE_RECORD, IoBaseAddress) == 1, "I/O base at offset 1");
static_assert(offsetof(POWER_STATE_RECORD, MultiThreaded) == 5, "multithreaded flag at offset 5");
static_assert(offsetof(POWER_STATE_RECORD, AlwaysOne) == 6, "constant byte at offset 6");
static_assert(offsetof(POWER_STATE_RECORD, PowerStateWord1) == 7, "word 1 at offset 7");
static_assert(offsetof(POWER_STATE_RECORD, PowerStateWord2) == 9, "word 2 at offset 9");
static_assert(offsetof(POWER_STATE_RECORD, PowerStateWord3) == 11, "word 3 at offset 11");

// Bytes of one socket record whose highest P-state number is PstateMaxVal (0 to 7).
constexpr UINT32 PstateSocketRecordSize(UINT32 PstateMaxVal) {
  return static_cast<UINT32>(sizeof(PSTATE_SOCKET_RECORD)) + (PstateMaxVal + 1) * sizeof(PSTATE_ENTRY);
}

// Zero bytes that follow the last socket record in every P-state information buffer.
constexpr UINT32 PSTATE_INFO_TRAILER_SIZE = 0x81A;

// The size of the whole buffer: the header, one record per socket and the zero trailer. The sum
// is formed in 64 bits and refused (FALSE) when it does not fit the 32-bit size field, so that a
// nonsensical socket count can never yield a buffer smaller than the records written into it.
constexpr BOOLEAN PstateInfoBufferSize(UINT32 SocketCount, UINT32 PstateMaxVal, UINT32 *Size) {
  const UINT64 Total = static_cast<UINT64>(SocketCount) * PstateSocketRecordSize(PstateMaxVal) +
                       sizeof(PSTATE_INFO_HEADER) + PSTATE_INFO_TRAILER_SIZE;
  if (Total > 0xFFFFFFFFULL) {
    return FALSE;
  }
  *Size = static_cast<UINT32>(Total);
  return TRUE;
}

inline PSTATE_ENTRY *PstateSocketEntries(PSTATE_SOCKET_RECORD *Record) {
  return reinterpret_cast<PSTATE_ENTRY *>(reinterpret_cast<UINT8 *>(Record) + sizeof(PSTATE_SOCKET_RECORD));
}

inline PSTATE_SOCKET_RECORD *PstateFirstSocketRecord(PSTATE_INFO_HEADER *Header) {
  return reinterpret_cast<PSTATE_SOCKET_RECORD *>(reinterpret_cast<UINT8 *>(Header) + sizeof(PSTATE_INFO_HEADER));
}

inline PSTATE_SOCKET_RECORD *PstateNextSocketRecord(PSTATE_SOCKET_RECORD *Record, UINT32 PstateMaxVal) {
  return reinterpret_cast<PSTATE_SOCKET_RECORD *>(reinterpret_cast<UINT8 *>(Record) +
                                                  PstateSocketRecordSize(PstateMaxVal));
}

#endif  // INTERFACES_CCX_ACPI_SERVICES_H_
