#include "sim/cpu/CurrentProcessor.h"

#include <stdexcept>

namespace sim {
namespace {

thread_local Processor *tCurrent = nullptr;

}  // namespace

Processor *CurrentProcessor() { return tCurrent; }

Processor &RequireCurrentProcessor() {
  if (tCurrent == nullptr) {
    throw std::logic_error("the calling host thread runs as no simulated processor");
  }
  return *tCurrent;
}

ProcessorBinding::ProcessorBinding(Processor &RunningAs) : Previous_(tCurrent) { tCurrent = &RunningAs; }

ProcessorBinding::~ProcessorBinding() { tCurrent = Previous_; }

}  // namespace sim
