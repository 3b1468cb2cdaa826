// Starting a host program (iasl) from a thread that may be running as a simulated processor of a
// boot of the delivered image. Such a thread traps the time-stamp counter, and that setting
// survives exec: the new program would die at its first RDTSC. The guard turns trapping off for
// the calling thread while it is in scope and puts it back afterwards.
#ifndef SIM_HOST_PROGRAM_H_
#define SIM_HOST_PROGRAM_H_

#include <sys/prctl.h>

namespace sim {

class HostProgramLaunch {
 public:
  HostProgramLaunch() {
    if (prctl(PR_GET_TSC, &Was_, 0, 0, 0) == 0 && Was_ == PR_TSC_SIGSEGV) prctl(PR_SET_TSC, PR_TSC_ENABLE, 0, 0, 0);
  }
  ~HostProgramLaunch() {
    if (Was_ == PR_TSC_SIGSEGV) prctl(PR_SET_TSC, PR_TSC_SIGSEGV, 0, 0, 0);
  }
  HostProgramLaunch(const HostProgramLaunch &) = delete;
  HostProgramLaunch &operator=(const HostProgramLaunch &) = delete;

 private:
  int Was_ = PR_TSC_ENABLE;
};

}  // namespace sim

#endif  // SIM_HOST_PROGRAM_H_
