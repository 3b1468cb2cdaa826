#include "sim/siblings/S3SmmSide.h"

#include <cstring>

#include "interfaces/QorvexGuids.h"
#include "interfaces/S3SaveTable.h"

namespace sim {
namespace {

// Far more than any platform gives the table; a larger size is a corrupted header.
constexpr uint64_t kMostTableSize = 1ULL << 32;

// Walks the entries from the first one to the end mark, never past the table's end guard.
void ReadEntries(S3HandoffView &View, const MemoryReader &Read) {
  uint64_t Offset = kS3FirstEntry;
  while (Offset + sizeof(uint16_t) <= View.TableSize) {
    uint16_t Header[2] = {0, 0};
    if (!Read(View.TableAddress + Offset, sizeof(uint16_t), &Header[0])) {
      View.Problem = "the table can't be read at offset " + std::to_string(Offset);
      return;
    }
    if (Header[0] == kS3ListEnd) {
      View.EndMarkFound = true;
      View.EndMarkOffset = Offset;
      return;
    }
    if (Offset + sizeof(Header) > View.TableSize || !Read(View.TableAddress + Offset, sizeof(Header), Header)) {
      View.Problem = "the entry at offset " + std::to_string(Offset) + " runs into the end of the table";
      return;
    }
    if (Header[1] < sizeof(Header) || Offset + Header[1] > View.TableSize) {
      View.Problem = "the entry at offset " + std::to_string(Offset) + " has the impossible length " +
                     std::to_string(Header[1]);
      return;
    }
    View.Entries.push_back({Offset, Header[0], Header[1]});
    Offset += Header[1];
  }
  View.Problem = "no end mark before the end of the table";
}

}  // namespace

S3HandoffView ReadS3Handoff(const std::vector<uint8_t> &Message, const MemoryReader &Read) {
  S3HandoffView View;
  if (Message.size() < kS3HandoffBytes) {
    View.Problem = "the message is shorter than a hand-off";
    return View;
  }
  QORVEX_S3_SAVE_HANDOFF_MESSAGE Handoff;
  std::memcpy(&Handoff, Message.data(), sizeof(Handoff));
  View.IsS3Message = std::memcmp(&Handoff.HeaderGuid, &gQorvexS3SaveSmmCommunicationGuid, sizeof(EFI_GUID)) == 0;
  View.MessageLength = Handoff.MessageLength;
  View.Command = Handoff.Command;
  View.RecordAddress = Handoff.PrivateDataAddress;
  if (!View.IsS3Message) {
    View.Problem = "not an S3 save table message";
    return View;
  }
  QorvexS3LibPrivateData Record;
  if (!Read(View.RecordAddress, sizeof(Record), &Record)) {
    View.Problem = "the shared record can't be read";
    return View;
  }
  View.RecordRead = true;
  View.Locked = Record.Locked;
  View.Closed = Record.Closed;
  View.TableAddress = Record.Table;
  QorvexS3LibTableHeader Header;
  if (!Read(View.TableAddress, sizeof(Header), &Header)) {
    View.Problem = "the table can't be read";
    return View;
  }
  View.TableRead = true;
  View.Signature = Header.Signature;
  View.Version = Header.Version;
  View.TableSize = Header.TableSize;
  View.NextOffset = Header.NextOffset;
  uint32_t Guard = 0;
  if (View.Signature != QORVEX_S3_TABLE_SIGNATURE) {
    View.Problem = "the table's signature is wrong";
  } else if (View.TableSize < kS3FirstEntry || View.TableSize > kMostTableSize) {
    View.Problem = "the table's size is impossible";
  } else if (!Read(View.TableAddress + View.TableSize, sizeof(Guard), &Guard) || Guard != S3_TABLE_END_GUARD) {
    View.Problem = "the table's end guard is missing";
  } else {
    ReadEntries(View, Read);
  }
  return View;
}

}  // namespace sim
