// Base types of the UEFI specification: fixed-width integers, EFI_STATUS and its codes, EFI_GUID,
// LIST_ENTRY, the EFIAPI calling convention and its variable-argument list.
#ifndef UEFI_BASE_H_
#define UEFI_BASE_H_

#include <cstddef>
#include <cstdint>

typedef uint8_t UINT8;
typedef int8_t INT8;
typedef uint16_t UINT16;
typedef int16_t INT16;
typedef uint32_t UINT32;
typedef int32_t INT32;
typedef uint64_t UINT64;
typedef int64_t INT64;
typedef uint64_t UINTN;
typedef int64_t INTN;
typedef char CHAR8;
typedef char16_t CHAR16;
typedef unsigned char BOOLEAN;
typedef void VOID;

#define TRUE ((BOOLEAN)1)
#define FALSE ((BOOLEAN)0)

#define IN
#define OUT
#define OPTIONAL
#define CONST const

static_assert(sizeof(void *) == 8, "the driver is built for x86-64 only");

// Every function pointer that crosses a UEFI or PI table uses the Microsoft x64 convention.
#if defined(_WIN32)
#define EFIAPI
typedef __builtin_va_list VA_LIST;
#define VA_START(Marker, Parameter) __builtin_va_start(Marker, Parameter)
#define VA_END(Marker) __builtin_va_end(Marker)
#define VA_COPY(Dest, Start) __builtin_va_copy(Dest, Start)
#else
#define EFIAPI __attribute__((ms_abi))
typedef __builtin_ms_va_list VA_LIST;
#define VA_START(Marker, Parameter) __builtin_ms_va_start(Marker, Parameter)
#define VA_END(Marker) __builtin_ms_va_end(Marker)
#define VA_COPY(Dest, Start) __builtin_ms_va_copy(Dest, Start)
#endif
#define VA_ARG(Marker, TYPE) __builtin_va_arg(Marker, TYPE)

typedef UINTN EFI_STATUS;
typedef VOID *EFI_HANDLE;
typedef VOID *EFI_EVENT;
typedef UINTN EFI_TPL;
typedef UINT64 EFI_PHYSICAL_ADDRESS;
typedef UINT64 EFI_VIRTUAL_ADDRESS;

#define MAX_BIT 0x8000000000000000ULL
#define ENCODE_ERROR(StatusCode) ((EFI_STATUS)(MAX_BIT | (StatusCode)))
#define ENCODE_WARNING(StatusCode) ((EFI_STATUS)(StatusCode))
#define EFI_ERROR(StatusCode) (((INTN)(EFI_STATUS)(StatusCode)) < 0)

#define EFI_SUCCESS ((EFI_STATUS)0)
#define EFI_LOAD_ERROR ENCODE_ERROR(1)
#define EFI_INVALID_PARAMETER ENCODE_ERROR(2)
#define EFI_UNSUPPORTED ENCODE_ERROR(3)
#define EFI_BAD_BUFFER_SIZE ENCODE_ERROR(4)
#define EFI_BUFFER_TOO_SMALL ENCODE_ERROR(5)
#define EFI_NOT_READY ENCODE_ERROR(6)
#define EFI_DEVICE_ERROR ENCODE_ERROR(7)
#define EFI_WRITE_PROTECTED ENCODE_ERROR(8)
#define EFI_OUT_OF_RESOURCES ENCODE_ERROR(9)
#define EFI_VOLUME_CORRUPTED ENCODE_ERROR(10)
#define EFI_VOLUME_FULL ENCODE_ERROR(11)
#define EFI_NO_MEDIA ENCODE_ERROR(12)
#define EFI_MEDIA_CHANGED ENCODE_ERROR(13)
#define EFI_NOT_FOUND ENCODE_ERROR(14)
#define EFI_ACCESS_DENIED ENCODE_ERROR(15)
#define EFI_NO_RESPONSE ENCODE_ERROR(16)
#define EFI_NO_MAPPING ENCODE_ERROR(17)
#define EFI_TIMEOUT ENCODE_ERROR(18)
#define EFI_NOT_STARTED ENCODE_ERROR(19)
#define EFI_ALREADY_STARTED ENCODE_ERROR(20)
#define EFI_ABORTED ENCODE_ERROR(21)
#define EFI_ICMP_ERROR ENCODE_ERROR(22)
#define EFI_TFTP_ERROR ENCODE_ERROR(23)
#define EFI_PROTOCOL_ERROR ENCODE_ERROR(24)
#define EFI_INCOMPATIBLE_VERSION ENCODE_ERROR(25)
#define EFI_SECURITY_VIOLATION ENCODE_ERROR(26)
#define EFI_CRC_ERROR ENCODE_ERROR(27)
#define EFI_END_OF_MEDIA ENCODE_ERROR(28)
#define EFI_END_OF_FILE ENCODE_ERROR(31)
#define EFI_INVALID_LANGUAGE ENCODE_ERROR(32)
#define EFI_COMPROMISED_DATA ENCODE_ERROR(33)
#define EFI_IP_ADDRESS_CONFLICT ENCODE_ERROR(34)
#define EFI_HTTP_ERROR ENCODE_ERROR(35)

#define EFI_WARN_UNKNOWN_GLYPH ENCODE_WARNING(1)
#define EFI_WARN_DELETE_FAILURE ENCODE_WARNING(2)
#define EFI_WARN_WRITE_FAILURE ENCODE_WARNING(3)
#define EFI_WARN_BUFFER_TOO_SMALL ENCODE_WARNING(4)
#define EFI_WARN_STALE_DATA ENCODE_WARNING(5)
#define EFI_WARN_FILE_SYSTEM ENCODE_WARNING(6)
#define EFI_WARN_RESET_REQUIRED ENCODE_WARNING(7)

typedef struct {
  UINT32 Data1;
  UINT16 Data2;
  UINT16 Data3;
  UINT8 Data4[8];
} EFI_GUID;
static_assert(sizeof(EFI_GUID) == 16, "EFI_GUID is 16 bytes");

typedef struct _LIST_ENTRY LIST_ENTRY;
struct _LIST_ENTRY {
  LIST_ENTRY *ForwardLink;
  LIST_ENTRY *BackLink;
};

typedef struct {
  UINT16 Year;
  UINT8 Month;
  UINT8 Day;
  UINT8 Hour;
  UINT8 Minute;
  UINT8 Second;
  UINT8 Pad1;
  UINT32 Nanosecond;
  INT16 TimeZone;
  UINT8 Daylight;
  UINT8 Pad2;
} EFI_TIME;
static_assert(sizeof(EFI_TIME) == 16, "EFI_TIME is 16 bytes");

typedef struct {
  UINT32 Resolution;
  UINT32 Accuracy;
  BOOLEAN SetsToZero;
} EFI_TIME_CAPABILITIES;

// Compares two GUIDs byte for byte; usable from freestanding code.
inline BOOLEAN GuidsEqual(const EFI_GUID *A, const EFI_GUID *B) {
  const UINT8 *X = reinterpret_cast<const UINT8 *>(A);
  const UINT8 *Y = reinterpret_cast<const UINT8 *>(B);
  for (UINTN Index = 0; Index < sizeof(EFI_GUID); Index++) {
    if (X[Index] != Y[Index]) {
      return FALSE;
    }
  }
  return TRUE;
}

#endif  // UEFI_BASE_H_
