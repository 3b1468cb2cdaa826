// Which simulated processor the calling host thread is running as. The hooks behind the driver's
// CPUID and MSR instructions answer for this processor, and MP services decide from it whether
// the caller is the BSP.
#ifndef SIM_CPU_CURRENT_PROCESSOR_H_
#define SIM_CPU_CURRENT_PROCESSOR_H_

#include "sim/cpu/Processor.h"

namespace sim {

// The processor the calling thread runs as, or null when it is not bound to one.
Processor *CurrentProcessor();
// The same, for callers that cannot go on without one: throws std::logic_error when unbound.
Processor &RequireCurrentProcessor();

// Called on the binding thread each time a thread starts running as a simulated processor
// (null: nobody). Booting the delivered image uses it to turn instruction trapping on for every
// thread that may run image code.
void SetProcessorBindingObserver(void (*Observer)());

// Binds the calling thread to a processor for the binder's lifetime and then restores the
// binding it replaced, so bindings nest.
class ProcessorBinding {
 public:
  explicit ProcessorBinding(Processor &RunningAs);
  ~ProcessorBinding();
  ProcessorBinding(const ProcessorBinding &) = delete;
  ProcessorBinding &operator=(const ProcessorBinding &) = delete;

 private:
  Processor *Previous_;
};

}  // namespace sim

#endif  // SIM_CPU_CURRENT_PROCESSOR_H_
