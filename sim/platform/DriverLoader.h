// Loads a driver for one boot from something other than a host image descriptor: the delivered
// PE32+ file. The boot runner asks it for the entry point where it would load a descriptor's copy,
// and lets it add what it knows to the record once the boot is over.
#ifndef SIM_PLATFORM_DRIVER_LOADER_H_
#define SIM_PLATFORM_DRIVER_LOADER_H_

#include <cstdint>
#include <string>

#include "sim/platform/BootRunner.h"
#include "uefi/LoadedImage.h"
#include "uefi/SystemTable.h"

namespace sim {

class Platform;

class DriverLoader {
 public:
  virtual ~DriverLoader() = default;

  // What the report calls the image.
  virtual std::string Name() const = 0;
  // Loads a fresh copy into the platform's memory (every global at its load-time value), on the
  // BSP thread, fills the loaded-image record's base and size, and returns the entry point.
  virtual EFI_IMAGE_ENTRY_POINT Load(Platform &Machine, EFI_LOADED_IMAGE_PROTOCOL &LoadedImage) = 0;
  // After the boot, while the platform still exists: adds what the loader saw to the record and
  // ends the copy's life.
  virtual void Unload(Platform &Machine, BootRecord &Record) = 0;
  // The symbol (as the compiler spelled it) of the function that starts at Address in the loaded
  // copy, or empty; the report names the driver's notify functions with it.
  virtual std::string SymbolAt(uint64_t Address) const = 0;
};

}  // namespace sim

#endif  // SIM_PLATFORM_DRIVER_LOADER_H_
