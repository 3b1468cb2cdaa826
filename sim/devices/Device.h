// The common frame of every simulated device: a name, the address ranges it claims on a bus, a
// lock that serializes its accesses (simulated processors reach devices from several host
// threads), and a trace of its accesses that is off until a test or the CLI turns it on.
#ifndef SIM_DEVICES_DEVICE_H_
#define SIM_DEVICES_DEVICE_H_

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

namespace sim {

// A half-open range [Base, Base + Size) of ports or byte addresses.
struct AddressRange {
  uint64_t Base = 0;
  uint64_t Size = 0;

  uint64_t Last() const { return Base + Size - 1; }
  bool Contains(uint64_t Address) const { return Address >= Base && Address - Base < Size; }
  bool ContainsAccess(uint64_t Address, unsigned Width) const {
    return Contains(Address) && Width <= Size - (Address - Base);
  }
  bool Overlaps(const AddressRange &Other) const {
    return Base <= Other.Last() && Other.Base <= Last();
  }
};

// Renders a range as "0x3F8-0x3FF" for messages.
std::string Describe(const AddressRange &Range);

enum class AccessKind { Read, Write };

struct AccessRecord {
  AccessKind Kind;
  uint64_t Address;
  unsigned Width;
  uint64_t Value;
};

// All ones of the given width in bytes: what an access that reaches nothing reads.
constexpr uint64_t AllOnes(unsigned Width) { return Width >= 8 ? ~0ULL : (1ULL << (8 * Width)) - 1; }

class Device {
 public:
  explicit Device(std::string Name);
  virtual ~Device();
  Device(const Device &) = delete;
  Device &operator=(const Device &) = delete;

  const std::string &Name() const { return Name_; }
  // The ranges this device answers; fixed for the device's lifetime.
  virtual std::vector<AddressRange> Ranges() const = 0;

  // Called by a bus with an access that lies entirely inside one of Ranges(). The value passed
  // to Write and returned by Read holds only Width bytes.
  uint64_t Read(uint64_t Address, unsigned Width);
  void Write(uint64_t Address, unsigned Width, uint64_t Value);

  // Tracing keeps at most Limit records; later accesses are only counted as dropped.
  void SetTracing(bool On, size_t Limit = 65536);
  std::vector<AccessRecord> Trace() const;
  uint64_t DroppedTraceRecords() const;
  void ClearTrace();

 protected:
  // Called with the device lock held.
  virtual uint64_t OnRead(uint64_t Address, unsigned Width) = 0;
  virtual void OnWrite(uint64_t Address, unsigned Width, uint64_t Value) = 0;

  // Inspection and set-up methods of a device take this lock so that they see a consistent
  // state while processors run.
  std::mutex &Lock() const { return Mutex_; }

 private:
  void Record(AccessKind Kind, uint64_t Address, unsigned Width, uint64_t Value);

  std::string Name_;
  mutable std::mutex Mutex_;
  bool Tracing_ = false;
  size_t TraceLimit_ = 0;
  std::vector<AccessRecord> Trace_;
  uint64_t Dropped_ = 0;
};

}  // namespace sim

#endif  // SIM_DEVICES_DEVICE_H_
