// The state a boot must leave on the machine, computed from the machine description, the
// processors' reset values and what the simulator itself did (the SMM core's calls, the services
// its consumers called), never from the driver's code, and compared with what the machine holds
// once the boot is over:
// - every MSR the driver writes, on every processor: the SMM range registers (TSEG base and mask,
//   the fixed MTRR of 0xA0000, HWCR) after the SMM core's open, close and lock; the SNP registers
//   (RMP base and end, SYSCFG) on the BSP and copied to every AP; P-state 0 after the custom
//   P-state of hook 0x11; the variable MTRR pair over the PCC region. An MSR that changes
//   without an expectation is an error as well;
// - the reverse-map table: 1 MB aligned, the size its coverage and entry size call for, reserved
//   and zeroed; the memory map's reserved and ACPI NVS pages (the table's and the PCC region's);
// - the heap buffers the driver makes: handle, size, persistence, and the contents the machine
//   fixes (the init value, the PCC region's address);
// - the configuration items the driver writes (each socket's PPIN, the S3 library's addresses)
//   and the protocols its initialization installs; the events the driver leaves armed and the
//   down-core variable;
// - the S3 save table as SMM received it: header, the machine's other drivers' entries, end mark.
// Each difference is one sentence, as the service checks give them. A boot that did not return
// from its entry (a reset, a halt) is not checked.
#ifndef SIM_ORACLE_MACHINE_STATE_ORACLE_H_
#define SIM_ORACLE_MACHINE_STATE_ORACLE_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "sim/platform/BootRunner.h"
#include "sim/platform/Platform.h"

namespace sim {

std::vector<std::string> CheckMachineState(Platform &Machine, const BootRecord &Boot);

// The parts, each adding its sentences to Errors.
void CheckMsrState(Platform &Machine, const BootRecord &Boot, std::vector<std::string> &Errors);
void CheckReverseMapTable(Platform &Machine, const BootRecord &Boot, std::vector<std::string> &Errors);
void CheckMemoryMap(Platform &Machine, const BootRecord &Boot, std::vector<std::string> &Errors);
void CheckHeapBuffers(Platform &Machine, const BootRecord &Boot, std::vector<std::string> &Errors);
void CheckItemsAndProtocols(Platform &Machine, const BootRecord &Boot, std::vector<std::string> &Errors);
void CheckEventsAndVariables(Platform &Machine, const BootRecord &Boot, std::vector<std::string> &Errors);
void CheckS3Handoff(Platform &Machine, const BootRecord &Boot, std::vector<std::string> &Errors);

// What the reverse-map table must be, from the BSP's reset registers and the configuration items:
// nothing when the processor has no SNP or the mode is 0.
struct ExpectedRmp {
  uint64_t Size = 0;
  bool Vmpl = false;
};
std::optional<ExpectedRmp> ExpectedReverseMapTable(Platform &Machine, const BootRecord &Boot);

// The configuration items as the driver could read them at a step of the boot (an index into
// Boot.Steps): the machine's once the configuration database is there, none (every item 0) before.
const std::map<uint64_t, uint64_t> &ItemsAtStep(const Machine &Description, const BootRecord &Boot, size_t Step);
bool DatabaseAtStep(const Machine &Description, const BootRecord &Boot, size_t Step);
// Whether a sibling's protocol was there before Step; the index of a step by name (SIZE_MAX when
// the boot never took it).
bool SiblingThereAt(const Machine &Description, const BootRecord &Boot, const std::string &Sibling, size_t Step);
size_t StepOf(const BootRecord &Boot, const std::string &Name);
// The step of the entry, and of the per-core work (the entry, or MP services' arrival).
size_t EntryStep(const BootRecord &Boot);
size_t PerCoreWorkStep(const Machine &Description, const BootRecord &Boot);

// The reverse-map table's fatal stops (its probe, its reservation), and whether the boot showed
// a fatal stop.
constexpr uint32_t kFatalRmpProbe = 0x30910832;
constexpr uint32_t kFatalRmpReserve = 0x30910855;
// The memory type at Address once the boot is over, and the pages of Type the boot took: from the
// firmware's maps for a boot inside real firmware, else from the simulated core's.
std::optional<uint32_t> MemoryTypeAfterBoot(Platform &Machine, const BootRecord &Boot, uint64_t Address);
uint64_t PagesTakenAs(Platform &Machine, const BootRecord &Boot, uint32_t Type);

bool ShowedFatalStop(const BootRecord &Boot, uint32_t Code);

// Whether the driver's initialization runs at all: it gives up at once unless the fabric's NUMA,
// system and topology services are there at its entry.
bool InitializationRuns(const Machine &Description);

// An MSR's value before the boot's first write to it on Processor (its value now when never
// written).
uint64_t ResetValue(const Processor &Each, uint32_t Msr);

}  // namespace sim

#endif  // SIM_ORACLE_MACHINE_STATE_ORACLE_H_
