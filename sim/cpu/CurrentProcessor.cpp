#include "sim/cpu/CurrentProcessor.h"

#include <atomic>
#include <stdexcept>

namespace sim {
namespace {

thread_local Processor *tCurrent = nullptr;
std::atomic<void (*)()> gBindingObserver{nullptr};

}  // namespace

Processor *CurrentProcessor() { return tCurrent; }

Processor &RequireCurrentProcessor() {
  if (tCurrent == nullptr) {
    throw std::logic_error("the calling host thread runs as no simulated processor");
  }
  return *tCurrent;
}

void SetProcessorBindingObserver(void (*Observer)()) { gBindingObserver.store(Observer); }

ProcessorBinding::ProcessorBinding(Processor &RunningAs) : Previous_(tCurrent) {
  if (void (*Observer)() = gBindingObserver.load()) Observer();
  tCurrent = &RunningAs;
}

ProcessorBinding::~ProcessorBinding() { tCurrent = Previous_; }

}  // namespace sim
