// A simulated machine, as its description file (or the built-in default) sets it: topology,
// processor reset state, memory, SMRAM, configuration items, which sibling components exist and
// when they appear, and the faults to inject.
#ifndef SIM_MACHINE_MACHINE_H_
#define SIM_MACHINE_MACHINE_H_

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/cpu/ProcessorSet.h"
#include "sim/cpu/Topology.h"
#include "sim/machine/PcdItems.h"
#include "sim/machine/S3TokenSettings.h"
#include "sim/uefi/PhysicalMemory.h"

namespace sim {

struct SmramRegion {
  uint64_t Base = 0;
  uint64_t Size = 0;
  uint64_t State = 0;
};

// When a sibling component's protocol appears: at start, after another sibling or boot phase
// ("entry", "ready_to_lock", "ready_to_boot"), or never.
struct SiblingArrival {
  enum Kind { Start, After, Absent } When = Start;
  std::string AfterWhat;
};

// Makes one query of a sibling service fail: the Call-th call (1 = the first) of Query returns Status.
struct InjectedFault {
  std::string Service;
  std::string Query;
  uint64_t Call = 1;
  uint64_t Status = 0;
};

// One setup option the option service serves: its number, the size of its value in bytes (1, 2,
// 4 or 8) and the value.
struct OptionValue {
  uint16_t Id = 0;
  unsigned Size = 1;
  uint64_t Value = 0;
};

// The option service (sibling "option_hook"): the option values of its NV table, in table order;
// which requests it always fails ("size", "copy", "hooks"); how many bytes it writes past the
// table it reported when it copies the table; and the size it reports once it has copied the table
// (the table's own size when unset; a service may report less than it announced, or more).
struct OptionServiceSettings {
  std::vector<OptionValue> Values;
  std::vector<std::string> Fail;
  uint32_t Overrun = 0;
  std::optional<uint32_t> SizeAfterCopy;
};

// One buffer the pre-memory phase hands over in a heap HOB (gQorvexHeapHobGuid). The record's
// size, valid flag and signature default to a well-formed record's; a description may set them
// otherwise to hand the driver a record it must not restore.
struct HeapHobRecord {
  uint32_t Handle = 0;
  uint8_t Persistence = 1;
  std::vector<uint8_t> Data;
  // The size the record claims; the data's length when unset.
  std::optional<uint32_t> Size;
  uint8_t Valid = 1;
  uint32_t Signature = 0x50414548;  // "HEAP"
};

// The security coprocessor: whether it is there, where its MMIO block lies, where its family puts
// its sideband base register and mailbox, and whether its firmware contends for the SMM mutex. It
// contends on a schedule drawn from Seed, one moment per x86 acquisition (not at all, before the
// x86 side, after its flag, after its turn), holding the lock each time for HoldPolls polls of the
// x86 side: the same machine gives the same contention on every run.
struct CoprocessorSettings {
  bool Present = true;
  uint64_t MmioBase = 0xFEB00000;
  uint32_t SidebandBlock = 0x13B10000;
  uint32_t MailboxOffset = 0x10900;
  bool Contends = true;
  uint32_t HoldPolls = 2;
  uint64_t Seed = 1;
};

// What a boot is expected to show, for a run whose exit status a CI checks. A field left unset
// takes its default: the entry returns EFI_SUCCESS, no fatal stop, the boot runs to its end, and
// the sibling queries that answered the driver an error are not checked.
struct BootExpectation {
  // The entry's status; nullopt inside: the entry is expected not to return.
  std::optional<std::optional<uint64_t>> EntryStatus;
  std::optional<std::vector<uint32_t>> FatalStops;
  std::optional<bool> RanToItsEnd;
  // The injected faults that fired with an error status, as "service.query".
  std::optional<std::vector<std::string>> SiblingFailures;
};

// What one boot of a run of boots changes: boot N of the run takes entry N - 1, and every boot
// after the list takes its last entry. A field left unset keeps the machine's own setting.
struct BootVariation {
  // Whether the pre-memory phase down-cored this boot (it then hands over heap buffer 0xA036).
  std::optional<bool> DownCored;
  // Faults of this boot, injected besides the machine's own.
  std::vector<InjectedFault> Faults;
  // What this boot is expected to show; a field it states replaces the machine's.
  BootExpectation Expect;
};

// The SOC component's service (sibling "soc"): the highest core frequency in 25 MHz units, and
// whether simultaneous multithreading is on (unset: on when the topology has two threads a core).
struct SocSettings {
  uint16_t MaxCoreFid = 0xB4;
  std::optional<bool> Smt;
  OcMessageSettings OcMessages;
};

// The system management unit's service (sibling "smu"): its register values by address.
struct SmuSettings {
  std::map<uint32_t, uint32_t> Registers;
};

// The fabric MMIO allocator (sibling "fabric_mmio"): the pool its windows are taken from.
struct MmioPoolSettings {
  uint64_t Base = 0xE0000000;
  uint64_t Size = 0x10000000;
};

// The proximity domain the NUMA service gives one complex; complexes not listed get their socket.
struct ComplexDomain {
  uint32_t Socket = 0;
  uint32_t Die = 0;
  uint32_t ComplexDie = 0;
  uint32_t Complex = 0;
  uint32_t Domain = 0;
};

// What the platform's _CPC builder answers the CPPC callbacks: its autonomous-selection setting
// (unset: it leaves the flag alone) and its override records, in list order.
struct CppcOverride {
  bool Present = true;
  uint32_t Element = 0;
  uint32_t Value = 0;
};
struct CppcBuilderSettings {
  std::optional<uint8_t> AutonomousSelection;
  std::vector<CppcOverride> Overrides;
};

struct Machine {
  std::string Name;
  std::string Description;
  // Where the description came from: a file path, or "built-in default machine".
  std::string Source;

  Topology Shape;
  ProcessorConfig Processors;
  std::vector<DramRange> Dram;
  std::vector<SmramRegion> Smram;
  // Configuration items by token number.
  std::map<uint64_t, uint64_t> Pcd;
  std::map<std::string, SiblingArrival> Siblings;
  std::vector<InjectedFault> Faults;
  // What every boot is expected to show, from "expect".
  BootExpectation Expect;
  // Proximity domains of complexes, from "numa_domains".
  std::vector<ComplexDomain> NumaDomains;
  // The _CPC builder's settings, from "cppc".
  CppcBuilderSettings Cppc;
  // Whether the simulated processors answer the simulation back-door (fatal stops then return).
  bool SimulationBackdoor = true;
  // Buffers handed over in heap HOBs, in HOB order.
  std::vector<HeapHobRecord> HeapHobs;
  CoprocessorSettings Coprocessor;
  OptionServiceSettings Options;
  SocSettings Soc;
  SmuSettings Smu;
  MmioPoolSettings MmioPool;
  // The configuration token store, from "token_store", and the S3 table's surroundings, from "s3".
  TokenStoreSettings TokenStore;
  S3PlatformSettings S3;

  // How the boots of a run differ from one another (empty: every boot is the same).
  std::vector<BootVariation> Boots;

  bool SiblingAtStart(const std::string &Name) const;
  bool SiblingExists(const std::string &Name) const;
};

// The heap buffer that another component leaves when cores are down-cored; only its presence counts.
constexpr uint32_t kDownCoreHeapHandle = 0xA036;
// Whether the machine hands over the down-core buffer, and making it do so or not.
bool IsDownCored(const Machine &Description);
void SetDownCored(Machine &Description, bool DownCored);
// The machine as boot Number (1 = the first) of a run finds it.
Machine MachineForBoot(const Machine &Description, uint64_t Number);

// The sibling components a description may name, and the boot phases an arrival may follow.
const std::vector<std::string> &KnownSiblings();
const std::vector<std::string> &BootPhases();

// Reads a description, with the descriptions it "extends" applied under it. Throws MachineError
// naming the file that set the field, the field path and what was expected. A description read
// from memory may extend files only when given the directory they are relative to.
Machine LoadMachineFile(const std::string &Path);
Machine ParseMachine(const std::string &JsonText, const std::string &Source,
                     const std::optional<std::filesystem::path> &BaseDirectory = std::nullopt);
// What the file at Path amounts to once its bases are applied, checked as LoadMachineFile checks
// it: pretty JSON without "extends".
std::string MergedMachineText(const std::string &Path);
// The built-in default machine (the text of machines/default.json, compiled in).
Machine DefaultMachine();
const std::string &DefaultMachineText();

}  // namespace sim

#endif  // SIM_MACHINE_MACHINE_H_
