#include "sim/ovmf/QemuProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

extern char **environ;

namespace sim {
namespace {

bool OnPath(const std::string &Program) {
  const char *Path = std::getenv("PATH");
  std::string Dirs = Path != nullptr ? Path : "/usr/bin:/bin";
  size_t Start = 0;
  while (Start <= Dirs.size()) {
    const size_t End = Dirs.find(':', Start);
    const std::string Dir = Dirs.substr(Start, End == std::string::npos ? std::string::npos : End - Start);
    if (!Dir.empty() && access((std::filesystem::path(Dir) / Program).c_str(), X_OK) == 0) return true;
    if (End == std::string::npos) break;
    Start = End + 1;
  }
  return false;
}

}  // namespace

void CheckOvmfSetup(const OvmfSettings &Settings) {
  if (!OnPath(Settings.Qemu)) {
    throw std::runtime_error(Settings.Qemu + " is not installed (scripts/setup installs qemu-system-x86)");
  }
  std::error_code Ignored;
  for (const auto &[Path, What] : {std::pair{Settings.Code, "OVMF's code"}, std::pair{Settings.Vars, "OVMF's variable store"}}) {
    if (!std::filesystem::is_regular_file(Path, Ignored)) {
      throw std::runtime_error(std::string(What) + " " + Path.string() +
                               " is missing (scripts/setup installs ovmf; OVMF_CODE and OVMF_VARS name others)");
    }
  }
  if (!std::filesystem::is_regular_file(Settings.Platform, Ignored)) {
    throw std::runtime_error("the platform package " + Settings.Platform.string() +
                             " is missing (the firmware build writes CcxOvmfPlatform.efi beside CcxRellDxe.efi)");
  }
}

uint64_t GuestRamBytes(size_t Processors) { return Processors > 16 ? 512ULL << 20 : 256ULL << 20; }

QemuProcess::QemuProcess(const OvmfSettings &Settings, const QemuFiles &Files, size_t Processors, uint64_t RamBytes) {
  std::filesystem::create_directory(Files.Disk());
  std::filesystem::copy_file(Settings.Platform, Files.Disk() / "CcxOvmfPlatform.efi");
  {
    std::ofstream Script(Files.Disk() / "startup.nsh", std::ios::binary);
    Script << "fs0:\r\nCcxOvmfPlatform.efi\r\n";
  }
  std::filesystem::copy_file(Settings.Vars, Files.Vars());

  const std::string Ram = std::to_string(RamBytes >> 20) + "M";
  // The pc machine: OVMF's configuration database answers the driver's item numbers with zero there,
  // as the simulator's machines do. -nodefaults leaves out the network card, so no network boot is
  // tried before the shell.
  const std::vector<std::string> Arguments = {
      Settings.Qemu, "-machine", "pc,memory-backend=ram", "-accel", "tcg", "-smp", std::to_string(Processors),
      "-m", Ram, "-object", "memory-backend-file,id=ram,size=" + Ram + ",mem-path=" + Files.Ram().string() + ",share=on",
      "-nodefaults", "-display", "none", "-monitor", "none", "-no-reboot",
      "-drive", "if=pflash,format=raw,unit=0,readonly=on,file=" + Settings.Code.string(),
      "-drive", "if=pflash,format=raw,unit=1,file=" + Files.Vars().string(),
      "-drive", "if=none,id=disk,format=raw,readonly=on,file=fat:" + Files.Disk().string(),
      "-device", "virtio-blk-pci,drive=disk",
      "-chardev", "stdio,id=console,signal=off", "-serial", "chardev:console",
      "-chardev", "socket,id=channel,path=" + Files.Socket().string(),
      "-device", "isa-serial,index=2,chardev=channel"};

  int In[2], Out[2];
  if (pipe2(In, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  if (pipe2(Out, O_CLOEXEC) != 0) {
    close(In[0]);
    close(In[1]);
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  }
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_adddup2(&Actions, In[0], 0);
  posix_spawn_file_actions_adddup2(&Actions, Out[1], 1);
  posix_spawn_file_actions_addopen(&Actions, 2, Files.Errors().c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<char *> Argv;
  for (const std::string &Argument : Arguments) Argv.push_back(const_cast<char *>(Argument.c_str()));
  Argv.push_back(nullptr);
  const int Error = posix_spawnp(&Pid_, Settings.Qemu.c_str(), &Actions, nullptr, Argv.data(), environ);
  posix_spawn_file_actions_destroy(&Actions);
  close(In[0]);
  close(Out[1]);
  ConsoleIn_ = In[1];
  ConsoleOut_ = Out[0];
  if (Error != 0) {
    close(ConsoleIn_);
    close(ConsoleOut_);
    throw std::runtime_error("cannot start " + Settings.Qemu + ": " + std::strerror(Error));
  }
}

QemuProcess::~QemuProcess() {
  Stop();
  close(ConsoleIn_);
  close(ConsoleOut_);
}

void QemuProcess::Type(const std::string &Keys) {
  if (write(ConsoleIn_, Keys.data(), Keys.size()) < 0) {
    // QEMU has gone; the caller learns it from Exited.
  }
}

bool QemuProcess::Exited(int &Status) {
  if (!Reaped_ && waitpid(Pid_, &Status_, WNOHANG) == Pid_) Reaped_ = true;
  Status = Status_;
  return Reaped_;
}

void QemuProcess::Stop() {
  int Ignored;
  if (Pid_ <= 0 || Exited(Ignored)) return;
  kill(Pid_, SIGTERM);
  for (int Wait = 0; Wait < 50 && !Exited(Ignored); Wait++) std::this_thread::sleep_for(std::chrono::milliseconds(100));
  if (!Exited(Ignored)) {
    kill(Pid_, SIGKILL);
    waitpid(Pid_, &Status_, 0);
    Reaped_ = true;
  }
}

}  // namespace sim
