#include "sim/devices/IoBus.h"

namespace sim {

IoBus::IoBus() : Bus("I/O bus", 0x10000, {1, 2, 4}) {}

}  // namespace sim
