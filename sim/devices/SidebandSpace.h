// The processor's internal sideband register space: 32-bit addresses, 32-bit registers. Most
// registers simply hold what was stored in them; a few are served by handlers (the coprocessor's
// MMIO base register, for one). Every write is kept in order with the host bridge it came
// through, and reads of addresses nobody set are answered with a default and remembered, so a
// test sees which registers the driver relied on without the machine describing them.
#ifndef SIM_DEVICES_SIDEBAND_SPACE_H_
#define SIM_DEVICES_SIDEBAND_SPACE_H_

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

// A host bridge: PCI segment and bus. Each one has its own index register into this space.
struct HostBridge {
  uint16_t Segment = 0;
  uint8_t Bus = 0;

  bool operator==(const HostBridge &) const = default;
  auto operator<=>(const HostBridge &) const = default;
};

struct SidebandWrite {
  uint32_t Address;
  uint32_t Value;
  HostBridge Via;

  bool operator==(const SidebandWrite &) const = default;
};

class SidebandSpace {
 public:
  using Reader = std::function<uint32_t()>;
  using Writer = std::function<void(uint32_t)>;

  // Serves Address with handlers instead of a stored value. An empty reader reads the default;
  // an empty writer ignores writes (they are still recorded). Throws std::logic_error when the
  // address already has a handler.
  void MapRegister(uint32_t Address, std::string Name, Reader Read, Writer Write);

  // Stores a plain value, as a machine description or a test would preset it.
  void Set(uint32_t Address, uint32_t Value);
  // What a read would return, without recording it as an unknown read.
  uint32_t Peek(uint32_t Address) const;
  // The value addresses that were never set read as. Zero unless changed.
  void SetDefaultValue(uint32_t Value);

  // Accesses through a host bridge's index/data pair.
  uint32_t Read(uint32_t Address);
  void Write(uint32_t Address, uint32_t Value, HostBridge Via = {});

  std::vector<SidebandWrite> Writes() const;
  // Reads of addresses that were neither set nor mapped, by address, with how often each came.
  std::map<uint32_t, uint64_t> UnknownReads() const;
  void ClearRecords();

 private:
  struct Handler {
    std::string Name;
    Reader Read;
    Writer Write;
  };

  // The value of Address; Known tells whether anything set or serves it. Callers hold Mutex_.
  uint32_t Lookup(uint32_t Address, bool &Known) const;

  mutable std::mutex Mutex_;
  std::map<uint32_t, uint32_t> Values_;
  std::map<uint32_t, Handler> Handlers_;
  uint32_t Default_ = 0;
  std::vector<SidebandWrite> Writes_;
  std::map<uint32_t, uint64_t> UnknownReads_;
};

}  // namespace sim

#endif  // SIM_DEVICES_SIDEBAND_SPACE_H_
