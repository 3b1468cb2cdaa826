// Host memory that stands in for the pages a fake AllocatePages hands out. Regions are reserved
// without being committed, so a test can ask for gigabytes and pay only for the bytes it touches;
// they stay mapped until the owner goes, so that pages given back can be asked for again by
// address, as firmware allows.
#ifndef TESTS_SUPPORT_HOST_PAGES_H_
#define TESTS_SUPPORT_HOST_PAGES_H_

#include <cstdint>
#include <utility>
#include <vector>

namespace fake {

class HostPages {
 public:
  HostPages() = default;
  ~HostPages();
  HostPages(const HostPages &) = delete;
  HostPages &operator=(const HostPages &) = delete;

  // The base of Length fresh bytes, or 0 when the host has no room for them.
  uint64_t Map(uint64_t Length);
  // Whether [Address, Address + Length) lies inside one region handed out by Map.
  bool Contains(uint64_t Address, uint64_t Length) const;

 private:
  std::vector<std::pair<uint64_t, uint64_t>> Regions_;
};

}  // namespace fake

#endif  // TESTS_SUPPORT_HOST_PAGES_H_
