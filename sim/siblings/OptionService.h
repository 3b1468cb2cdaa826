// The setup-options component (QORVEX_ZRB_OPTION_HOOK_PROTOCOL), played from the machine's option
// settings. It answers the NV table fetch with a table built from the machine's option values,
// takes every other hook, and records each call it receives in order. A machine can make it fail
// a kind of request for good ("size", "copy", "hooks"), fail one call through the fault injector
// ("option_hook", "GetTableSize" / "CopyTable" / "RunHook"), write past the table it reported, or
// report another size than the table's once it has copied it.
#ifndef SIM_SIBLINGS_OPTION_SERVICE_H_
#define SIM_SIBLINGS_OPTION_SERVICE_H_

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "interfaces/ZrbOptionHook.h"
#include "sim/machine/Machine.h"
#include "sim/siblings/FaultInjector.h"

namespace sim {

class OptionService;

struct OptionServiceRecord {
  QORVEX_ZRB_OPTION_HOOK_PROTOCOL Protocol;
  OptionService *Owner;
};

// One call the service received: the hook number, what was asked (an ordinary hook, the table
// size, or the table copy) and the status it answered.
struct OptionHookCall {
  enum Kind { Hook, TableSize, TableCopy } Request = Hook;
  uint32_t HookId = 0;
  uint64_t Status = 0;
  bool operator==(const OptionHookCall &) const = default;
};

// "hook", "table size" or "table copy".
const char *OptionRequestName(OptionHookCall::Kind Request);

// The NV table for a list of option values: the 32-byte header with its signature, the packed
// entries in the given order, and the end mark.
std::vector<uint8_t> BuildOptionNvTable(const std::vector<OptionValue> &Values);

class OptionService {
 public:
  OptionService(const OptionServiceSettings &Settings, FaultInjector &Faults);
  OptionService(const OptionService &) = delete;
  OptionService &operator=(const OptionService &) = delete;

  QORVEX_ZRB_OPTION_HOOK_PROTOCOL *Protocol() { return &Record_.Protocol; }
  const std::vector<uint8_t> &Table() const { return Table_; }
  std::vector<OptionHookCall> Calls() const;

  // Used by the protocol thunk.
  EFI_STATUS Receive(ZRB_OPTION_HOOK_REQUEST *Request, UINT32 HookId);

 private:
  EFI_STATUS Answer(OptionHookCall::Kind Request, ZRB_OPTION_HOOK_REQUEST *Hook);
  EFI_STATUS AnswerFetch(OptionHookCall::Kind Request, ZRB_NV_TABLE_REQUEST *Fetch);
  // The status of a request the machine makes fail, for good or at this call.
  std::optional<EFI_STATUS> Failure(OptionHookCall::Kind Request);

  OptionServiceRecord Record_;
  OptionServiceSettings Settings_;
  FaultInjector &Faults_;
  std::vector<uint8_t> Table_;
  mutable std::mutex Lock_;
  std::vector<OptionHookCall> Calls_;
};

}  // namespace sim

#endif  // SIM_SIBLINGS_OPTION_SERVICE_H_
