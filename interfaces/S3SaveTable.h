// The S3 save table that the platform's drivers fill with register writes to replay on resume,
// the small record through which all of them find it, and the message that hands it to the SMM
// side at ready-to-boot. The SMM side reads all three by address, so every offset is fixed.
#ifndef INTERFACES_S3_SAVE_TABLE_H_
#define INTERFACES_S3_SAVE_TABLE_H_

#include "uefi/Base.h"

#pragma pack(push, 1)

// Shared by every driver of the boot through PcdQorvexS3LibPrivateDataAddress.
struct QorvexS3LibPrivateData {
  UINT8 Locked;
  UINT8 Closed;
  UINT8 Reserved[6];
  UINT64 Table;
};

// The start of the table. Entries follow from offset 48 up to NextOffset; the end guard sits at
// offset TableSize, so the block is TableSize + 4 bytes long.
struct QorvexS3LibTableHeader {
  UINT32 Signature;
  UINT32 Version;
  UINT8 Reserved[24];
  UINT64 TableSize;
  UINT64 NextOffset;
};

// Written into the platform's SMM communication buffer: the standard communication header
// (GUID and length of what follows), then the command and the address of the shared record.
typedef struct {
  EFI_GUID HeaderGuid;
  UINT64 MessageLength;
  UINT32 Command;
  UINT32 Reserved;
  UINT64 PrivateDataAddress;
} QORVEX_S3_SAVE_HANDOFF_MESSAGE;

#pragma pack(pop)

static_assert(sizeof(QorvexS3LibPrivateData) == 16, "QorvexS3LibPrivateData is 16 bytes");
static_assert(offsetof(QorvexS3LibPrivateData, Closed) == 1, "closed flag at offset 1");
static_assert(offsetof(QorvexS3LibPrivateData, Table) == 8, "table address at offset 8");
static_assert(sizeof(QorvexS3LibTableHeader) == 48, "entries start at offset 48");
static_assert(offsetof(QorvexS3LibTableHeader, Version) == 4, "version at offset 4");
static_assert(offsetof(QorvexS3LibTableHeader, TableSize) == 32, "table size at offset 32");
static_assert(offsetof(QorvexS3LibTableHeader, NextOffset) == 40, "next offset at offset 40");
static_assert(sizeof(QORVEX_S3_SAVE_HANDOFF_MESSAGE) == 40, "the hand-off message is 40 bytes");
static_assert(offsetof(QORVEX_S3_SAVE_HANDOFF_MESSAGE, MessageLength) == 16, "message length at offset 16");
static_assert(offsetof(QORVEX_S3_SAVE_HANDOFF_MESSAGE, Command) == 24, "command at offset 24");
static_assert(offsetof(QORVEX_S3_SAVE_HANDOFF_MESSAGE, Reserved) == 28, "zero word at offset 28");
static_assert(offsetof(QORVEX_S3_SAVE_HANDOFF_MESSAGE, PrivateDataAddress) == 32, "record address at offset 32");

// The bytes "QS3T" read as a little-endian word.
constexpr UINT32 QORVEX_S3_TABLE_SIGNATURE = 0x54335351;
constexpr UINT32 QORVEX_S3_TABLE_VERSION = 1;
constexpr UINT64 QORVEX_S3_TABLE_MIN_SIZE = 0x4000;
constexpr UINT64 QORVEX_S3_TABLE_FIRST_ENTRY = sizeof(QorvexS3LibTableHeader);
constexpr UINT32 S3_TABLE_END_GUARD = 0x01558844;
// Written at NextOffset at the hand-off so that the SMM side finds where the entries end.
constexpr UINT16 QORVEX_S3_TABLE_LIST_END = 0xFFFF;

// The hand-off message's length field counts the command, the zero word and the address.
constexpr UINT64 QORVEX_S3_HANDOFF_MESSAGE_LENGTH = 16;
constexpr UINT32 QORVEX_S3_HANDOFF_COMMAND_SAVE_TABLE = 1;

#endif  // INTERFACES_S3_SAVE_TABLE_H_
