// Ports, memory-mapped registers, MSRs and the time-stamp counter as the debug library sees
// them, recorded access by access. A register keeps what was last written to it; a read script
// can make a register answer a sequence of values first (a UART that becomes ready late).
#ifndef TESTS_DEBUG_FAKE_DEBUG_HARDWARE_H_
#define TESTS_DEBUG_FAKE_DEBUG_HARDWARE_H_

#include <cstdint>
#include <deque>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "arch/host/HostHooks.h"

namespace fake {

enum class AccessKind { IoRead, IoWrite, MmioRead, MmioWrite };

struct Access {
  AccessKind Kind;
  uint64_t Address;
  unsigned Width;  // bytes
  uint64_t Value;
  bool operator==(const Access &Other) const = default;
};
std::ostream &operator<<(std::ostream &Stream, const Access &Entry);

inline Access IoWrite(uint64_t Port, unsigned Width, uint64_t Value) {
  return {AccessKind::IoWrite, Port, Width, Value};
}
inline Access MmioWrite(uint64_t Address, unsigned Width, uint64_t Value) {
  return {AccessKind::MmioWrite, Address, Width, Value};
}
inline Access MmioRead(uint64_t Address, unsigned Width, uint64_t Value) {
  return {AccessKind::MmioRead, Address, Width, Value};
}

class FakeDebugHardware {
 public:
  FakeDebugHardware();
  ~FakeDebugHardware();
  FakeDebugHardware(const FakeDebugHardware &) = delete;
  FakeDebugHardware &operator=(const FakeDebugHardware &) = delete;

  // Register contents. A port never written reads all ones, as an absent device does; memory
  // never written reads 0.
  std::map<uint64_t, uint64_t> Ports;
  std::map<uint64_t, uint64_t> Memory;
  // Values a register answers before it falls back to its contents, one per read.
  std::map<uint64_t, std::deque<uint64_t>> PortReadScript;
  std::map<uint32_t, uint64_t> Msrs;
  uint64_t Tsc = 0;
  uint64_t TscStep = 1;
  uint16_t Backdoor = 0;

  std::vector<Access> Log;
  std::vector<uint32_t> MsrReads;
  unsigned Pauses = 0;

  // The accesses of one kind, or only the writes, in order.
  std::vector<Access> Only(AccessKind Kind) const;
  std::vector<Access> Writes() const;
  // Reads of one port.
  size_t PortReads(uint64_t Port) const;
  // The bytes written to a port with 1-byte writes, in order.
  std::vector<uint8_t> BytesWritten(uint64_t Port) const;
  // The messages the port-capture channel framed on port 0x80 between its start and end markers.
  std::vector<std::string> CaptureFrames() const;

  static FakeDebugHardware &Current();

  uint64_t ReadPort(uint16_t Port, unsigned Width);
  void WritePort(uint16_t Port, unsigned Width, uint32_t Value);
  uint64_t ReadMemory(uint64_t Address, unsigned Width);
  void WriteMemory(uint64_t Address, unsigned Width, uint64_t Value);

 private:
  const CCX_ARCH_HOST_HOOKS *Previous_ = nullptr;
};

}  // namespace fake

#endif  // TESTS_DEBUG_FAKE_DEBUG_HARDWARE_H_
