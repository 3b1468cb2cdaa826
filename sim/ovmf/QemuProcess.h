// QEMU running OVMF for one boot: the pc machine under TCG with one virtual processor per
// simulated one, RAM from a file ccxsim maps too, a read-only FAT disk whose startup.nsh runs the
// platform package, the console on a pipe and the channel's UART (port 0x3E8) on a Unix socket.
#ifndef SIM_OVMF_QEMU_PROCESS_H_
#define SIM_OVMF_QEMU_PROCESS_H_

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>

namespace sim {

struct OvmfSettings {
  std::filesystem::path Platform;  // CcxOvmfPlatform.efi
  std::filesystem::path Code = "/usr/share/OVMF/OVMF_CODE_4M.fd";
  std::filesystem::path Vars = "/usr/share/OVMF/OVMF_VARS_4M.fd";
  std::string Qemu = "qemu-system-x86_64";
  unsigned TimeLimitSeconds = 150;
};

// Where a run keeps its files: the disk, the variable store's copy, the RAM file, the channel's
// socket, QEMU's error output.
struct QemuFiles {
  std::filesystem::path Scratch;
  std::filesystem::path Disk() const { return Scratch / "disk"; }
  std::filesystem::path Vars() const { return Scratch / "OVMF_VARS.fd"; }
  std::filesystem::path Ram() const { return Scratch / "ram"; }
  std::filesystem::path Socket() const { return Scratch / "channel.sock"; }
  std::filesystem::path Errors() const { return Scratch / "qemu.stderr"; }
};

// Throws std::runtime_error naming what is missing when QEMU, OVMF or the platform package is.
void CheckOvmfSetup(const OvmfSettings &Settings);

// The RAM the machine gets for a number of processors.
uint64_t GuestRamBytes(size_t Processors);

// What the channel needs of the process that runs the firmware: its console, and whether it
// still runs.
class FirmwareProcess {
 public:
  virtual ~FirmwareProcess() = default;
  virtual int Console() const = 0;
  // Sends keys to the console (the shell waits for one before it runs startup.nsh).
  virtual void Type(const std::string &Keys) = 0;
  // True once the process has exited; Status then holds its wait status.
  virtual bool Exited(int &Status) = 0;
};

class QemuProcess : public FirmwareProcess {
 public:
  // Lays out the disk and the variable store, and starts QEMU. The RAM file and the socket must
  // exist already (the channel listens before QEMU connects).
  QemuProcess(const OvmfSettings &Settings, const QemuFiles &Files, size_t Processors, uint64_t RamBytes);
  ~QemuProcess() override;  // stops QEMU if it still runs
  QemuProcess(const QemuProcess &) = delete;
  QemuProcess &operator=(const QemuProcess &) = delete;

  int Console() const override { return ConsoleOut_; }
  void Type(const std::string &Keys) override;
  bool Exited(int &Status) override;
  void Stop();

 private:
  pid_t Pid_ = -1;
  int ConsoleIn_ = -1;
  int ConsoleOut_ = -1;
  bool Reaped_ = false;
  int Status_ = 0;
};

}  // namespace sim

#endif  // SIM_OVMF_QEMU_PROCESS_H_
