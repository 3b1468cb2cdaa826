// The SMM side of the S3 save table's hand-off: given the communication buffer it was sent, it
// reads the shared record and the table by address, as SMM code would, and tells what it found:
// the record's flags, the table's header, the entries other drivers wrote and where the end mark
// stood. Nothing it is given is trusted; an address it can't read or a table that contradicts
// itself is named as the problem and the reading stops there.
#ifndef SIM_SIBLINGS_S3_SMM_SIDE_H_
#define SIM_SIBLINGS_S3_SMM_SIDE_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

// Copies Length bytes at a simulated physical address into Out; false when they aren't all mapped.
using MemoryReader = std::function<bool(uint64_t Address, uint64_t Length, void *Out)>;

struct S3EntryView {
  uint64_t Offset = 0;
  uint16_t Kind = 0;
  uint16_t Length = 0;  // counts the four header bytes
};

struct S3HandoffView {
  bool IsS3Message = false;  // the header GUID is the S3 save table's
  uint64_t MessageLength = 0;
  uint32_t Command = 0;
  uint64_t RecordAddress = 0;
  bool RecordRead = false;
  uint8_t Locked = 0;
  uint8_t Closed = 0;  // as the record stood while SMM read it
  uint64_t TableAddress = 0;
  bool TableRead = false;
  uint32_t Signature = 0;
  uint32_t Version = 0;
  uint64_t TableSize = 0;
  uint64_t NextOffset = 0;
  std::vector<S3EntryView> Entries;
  bool EndMarkFound = false;
  uint64_t EndMarkOffset = 0;
  std::string Problem;
};

// The kind word that ends the entry list.
constexpr uint16_t kS3ListEnd = 0xFFFF;
constexpr uint64_t kS3FirstEntry = 48;
constexpr size_t kS3HandoffBytes = 40;

S3HandoffView ReadS3Handoff(const std::vector<uint8_t> &Message, const MemoryReader &Read);

}  // namespace sim

#endif  // SIM_SIBLINGS_S3_SMM_SIDE_H_
