#include "sim/ovmf/QemuProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

namespace sim {
namespace {

// Where Program lies on PATH, or "" (a name with a slash is taken as it stands).
std::string OnPath(const std::string &Program) {
  if (Program.find('/') != std::string::npos) return access(Program.c_str(), X_OK) == 0 ? Program : "";
  const char *Path = std::getenv("PATH");
  std::string Dirs = Path != nullptr ? Path : "/usr/bin:/bin";
  size_t Start = 0;
  while (Start <= Dirs.size()) {
    const size_t End = Dirs.find(':', Start);
    const std::string Dir = Dirs.substr(Start, End == std::string::npos ? std::string::npos : End - Start);
    const std::filesystem::path Candidate = std::filesystem::path(Dir) / Program;
    if (!Dir.empty() && access(Candidate.c_str(), X_OK) == 0) return Candidate.string();
    if (End == std::string::npos) break;
    Start = End + 1;
  }
  return "";
}

}  // namespace

void CheckOvmfSetup(const OvmfSettings &Settings) {
  if (OnPath(Settings.Qemu).empty()) {
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

  const std::string Program = OnPath(Settings.Qemu);
  if (Program.empty()) throw std::runtime_error(Settings.Qemu + " is not installed (scripts/setup installs qemu-system-x86)");
  int In[2], Out[2];
  if (pipe2(In, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  if (pipe2(Out, O_CLOEXEC) != 0) {
    close(In[0]);
    close(In[1]);
    throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  }
  std::vector<char *> Argv;
  for (const std::string &Argument : Arguments) Argv.push_back(const_cast<char *>(Argument.c_str()));
  Argv.push_back(nullptr);
  const std::string Errors = Files.Errors().string();
  const pid_t Parent = getpid();
  Pid_ = fork();
  if (Pid_ == 0) {
    // QEMU dies with ccxsim, however ccxsim ends (a crash or a kill included), so no machine is
    // left running. Only async-signal-safe calls until exec.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != Parent) _exit(127);
    const int Log = open(Errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (dup2(In[0], 0) < 0 || dup2(Out[1], 1) < 0 || Log < 0 || dup2(Log, 2) < 0) _exit(127);
    execv(Program.c_str(), Argv.data());
    _exit(127);
  }
  const int Error = errno;
  close(In[0]);
  close(Out[1]);
  ConsoleIn_ = In[1];
  ConsoleOut_ = Out[0];
  if (Pid_ < 0) {
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
