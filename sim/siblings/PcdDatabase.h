// The platform configuration database: items by token number (PCD_PROTOCOL) and by token space
// and number (EFI_PCD_PROTOCOL), with every write recorded in order. Items that were never set
// read as 0. The PCD protocols' functions carry no instance pointer, so the database that answers
// them is the one made active by Activate().
#ifndef SIM_SIBLINGS_PCD_DATABASE_H_
#define SIM_SIBLINGS_PCD_DATABASE_H_

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "uefi/Pcd.h"

namespace sim {

struct PcdWrite {
  std::string Space;  // empty for the default token space
  uint64_t Token = 0;
  uint64_t Value = 0;
};

class PcdDatabase {
 public:
  PcdDatabase();
  ~PcdDatabase();
  PcdDatabase(const PcdDatabase &) = delete;
  PcdDatabase &operator=(const PcdDatabase &) = delete;

  // Makes this database answer the protocols' calls until another is activated or it is destroyed.
  void Activate();

  PCD_PROTOCOL *Protocol() { return &Protocol_; }
  EFI_PCD_PROTOCOL *PiProtocol() { return &PiProtocol_; }

  void Set(uint64_t Token, uint64_t Value);
  uint64_t Get(uint64_t Token) const;
  void SetEx(const EFI_GUID &Space, uint64_t Token, uint64_t Value);
  uint64_t GetEx(const EFI_GUID &Space, uint64_t Token) const;
  // Items written by the code under test, in order.
  std::vector<PcdWrite> Writes() const;
  std::map<uint64_t, uint64_t> Items() const;

  // Called by the protocol thunks.
  uint64_t Read(const EFI_GUID *Space, uint64_t Token) const;
  EFI_STATUS Write(const EFI_GUID *Space, uint64_t Token, uint64_t Value);

 private:
  PCD_PROTOCOL Protocol_{};
  EFI_PCD_PROTOCOL PiProtocol_{};
  mutable std::mutex Lock_;
  std::map<uint64_t, uint64_t> Items_;
  std::map<std::pair<std::string, uint64_t>, uint64_t> ExItems_;
  std::vector<PcdWrite> Writes_;
};

}  // namespace sim

#endif  // SIM_SIBLINGS_PCD_DATABASE_H_
