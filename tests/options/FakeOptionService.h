// A scriptable QORVEX_ZRB_OPTION_HOOK_PROTOCOL for unit tests of the option library: it records
// every call as it arrived, serves a given NV table, and can fail, misreport its size or write
// past the table on request.
#ifndef TESTS_OPTIONS_FAKE_OPTION_SERVICE_H_
#define TESTS_OPTIONS_FAKE_OPTION_SERVICE_H_

#include <cstdint>
#include <optional>
#include <vector>

#include "interfaces/ZrbOptionHook.h"

namespace fake {

struct OptionCall {
  EFI_BOOT_SERVICES *BootServices;
  uint64_t Reserved;
  void *Params;
  uint32_t HookId;
  void *This;
  // For a table fetch: the buffer and the size the caller passed in.
  void *Buffer;
  uint32_t SizeIn;
};

// Little-endian table bytes: the header with its signature, then entries and (optionally) the end mark.
std::vector<uint8_t> NvTable(const std::vector<std::vector<uint8_t>> &Entries, bool Terminated = true);
// One entry: option number, size code (0..3) and a value of 1 << SizeCode bytes.
std::vector<uint8_t> NvEntry(uint16_t OptionId, unsigned SizeCode, uint64_t Value);

struct FakeOptionService;

// The record the driver locates, leading back to the fake that owns it.
struct FakeOptionServiceRecord {
  QORVEX_ZRB_OPTION_HOOK_PROTOCOL Protocol;
  FakeOptionService *Owner;
};

struct FakeOptionService {
  FakeOptionServiceRecord Record;
  std::vector<uint8_t> Table;
  EFI_STATUS HookStatus = EFI_SUCCESS;
  EFI_STATUS SizeStatus = EFI_SUCCESS;
  EFI_STATUS CopyStatus = EFI_SUCCESS;
  // What the size query answers instead of the table's size.
  std::optional<uint32_t> SizeAnswer;
  // What the copy reports as the size afterwards instead of the table's size.
  std::optional<uint32_t> CopiedSizeAnswer;
  // Bytes written behind the table on a copy.
  std::vector<uint8_t> Overrun;
  std::vector<OptionCall> Calls;

  FakeOptionService();
  FakeOptionService(const FakeOptionService &) = delete;
  FakeOptionService &operator=(const FakeOptionService &) = delete;

  QORVEX_ZRB_OPTION_HOOK_PROTOCOL *Protocol() { return &Record.Protocol; }
  size_t FetchCalls() const;
};

}  // namespace fake

#endif  // TESTS_OPTIONS_FAKE_OPTION_SERVICE_H_
