// Compiles every interface header of the platform's records together and checks the values that
// tie the headers to the bytes other components see. The layout asserts live in the headers
// themselves; a layout typo therefore fails this build wherever the header is included.
#include "interfaces/AcpiStructures.h"
#include "interfaces/ActDb.h"
#include "interfaces/CcxAcpiServices.h"
#include "interfaces/CcxAddressInfo.h"
#include "interfaces/CcxCppcServices.h"
#include "interfaces/CcxDxeInitProtocols.h"
#include "interfaces/CcxMcaServices.h"
#include "interfaces/CcxOcProtocols.h"
#include "interfaces/CcxPcctServices.h"
#include "interfaces/CcxResourceAffinityServices.h"
#include "interfaces/CcxSmbiosServices.h"
#include "interfaces/CcxSratServices.h"
#include "interfaces/FabricMmioAllocator.h"
#include "interfaces/HeapProtocol.h"
#include "interfaces/RegionServices.h"
#include "interfaces/S3SaveTable.h"
#include "interfaces/SmuServices.h"
#include "interfaces/SocServices.h"
#include "interfaces/ZrbOptionHook.h"

namespace {

// Four ASCII characters as they lie in memory, read as a little-endian 32-bit word.
constexpr UINT32 Ascii4(const char (&Text)[5]) {
  UINT32 Word = 0;
  for (int Index = 3; Index >= 0; Index--) {
    Word = (Word << 8) | static_cast<UINT8>(Text[Index]);
  }
  return Word;
}

// Signatures and handles are written down as numbers; each must spell its text in memory order.
static_assert(HEAP_SIGNATURE == Ascii4("HEAP"), "the heap signature spells HEAP");
static_assert(HEAP_HANDLE_NV_TABLE == Ascii4("NVDT"), "the NV table handle spells NVDT");
static_assert(HEAP_HANDLE_ACT_DB == Ascii4("ACDB"), "the token store handle spells ACDB");
static_assert(ZRB_NV_TABLE_SIGNATURE == Ascii4("$KNV"), "the NV table signature spells $KNV");
static_assert(QORVEX_S3_TABLE_SIGNATURE == Ascii4("QS3T"), "the S3 table signature spells QS3T");

constexpr UINT32 BufferSizeOr0(UINT32 Sockets, UINT32 PstateMaxVal) {
  UINT32 Size = 0;
  return PstateInfoBufferSize(Sockets, PstateMaxVal, &Size) ? Size : 0;
}

// One socket whose highest P-state is 2 takes 0x1059 bytes, and the second socket's record starts
// 5 + 0x81A + 16 × M bytes into the buffer.
static_assert(BufferSizeOr0(1, 2) == 0x1059, "one socket, M = 2");
static_assert(PstateSocketRecordSize(2) == 0x81A + 16 * 2, "a record grows by one entry per P-state");
static_assert(BufferSizeOr0(4, 7) == 4 * (0x81A + 16 * 7) + 0x81F, "four sockets, every P-state");
// A socket count that would wrap the 32-bit size is refused rather than yielding a short buffer.
static_assert(BufferSizeOr0(0xFFFFFFFF, 7) == 0, "an impossible socket count is refused");
// With M = 0 the largest count that still fits is 0x1F994C (0xFFFFF9D7 bytes); one more wraps.
static_assert(BufferSizeOr0(0x1F994C, 0) == 0xFFFFF9D7, "the largest count that fits is accepted");
static_assert(BufferSizeOr0(0x1F994D, 0) == 0, "one socket more would wrap and is refused");

// NV table entries are 4, 5, 7 or 11 bytes: a three-byte head and a value of 1, 2, 4 or 8 bytes.
static_assert(sizeof(ZRB_NV_ENTRY_HEADER) + ZrbNvValueSize(0) == 4, "size code 0 gives a 4-byte entry");
static_assert(sizeof(ZRB_NV_ENTRY_HEADER) + ZrbNvValueSize(1) == 5, "size code 1 gives a 5-byte entry");
static_assert(sizeof(ZRB_NV_ENTRY_HEADER) + ZrbNvValueSize(2) == 7, "size code 2 gives a 7-byte entry");
static_assert(sizeof(ZRB_NV_ENTRY_HEADER) + ZrbNvValueSize(0xFF) == 11, "only bits 1:0 choose the size");

// A revision-3 _CPC package has 21 elements after NumEntries and Revision; the template holds one
// entry for each, then its end marker.
static_assert(CcxCppcElementCount == 21, "21 _CPC elements");

}  // namespace
