#include "tests/services/SmmTestPlatform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>

#include "driver/DriverEntry.h"
#include "driver/ImageState.h"
#include "sim/cpu/CurrentProcessor.h"
#include "sim/uefi/HobListBuilder.h"
#include "uefi/LoadedImage.h"
#include "uefi/StandardGuids.h"

namespace smmtest {

void RunOnPlatform(const sim::Machine &Description, const std::function<void(sim::Platform &)> &Body,
                   const std::optional<std::vector<uint8_t>> &SmramHobData) {
  sim::BootControl Control;
  sim::PlatformOptions Options;
  std::mutex NotesLock;
  std::vector<std::string> Notes;
  Options.Notes = [&](const std::string &Note) {
    std::lock_guard<std::mutex> Guard(NotesLock);
    Notes.push_back(Note);
  };
  sim::Platform Machine(Description, Options, Control);
  EFI_LOADED_IMAGE_PROTOCOL LoadedImage{};
  const sim::BootEnd End = Control.Run([&] {
    sim::ProcessorBinding RunningAs(Machine.Processors().Bsp());
    auto Active = Machine.Core().Activate();
    if (SmramHobData) {
      sim::HobListBuilder Hobs;
      Hobs.AddGuidHob(gEfiSmmPeiSmramMemoryReserveGuid, *SmramHobData);
      Hobs.Install(Machine.Core().Memory(), Machine.Core().Tables());
    } else {
      Machine.PublishHobList();
    }
    Machine.InstallStartingSiblings();
    CCX_IMAGE_NAMESPACE::ImageLoad();
    LoadedImage.SystemTable = Machine.Core().SystemTable();
    EFI_HANDLE ImageHandle = nullptr;
    Machine.Core().InstallProtocol(ImageHandle, gEfiLoadedImageProtocolGuid, &LoadedImage);
    CCX_IMAGE_NAMESPACE::CcxLibraryStartup(ImageHandle, Machine.Core().SystemTable());
    Body(Machine);
  });
  EXPECT_EQ(End.How, sim::BootEnd::Returned) << End.Detail;
  for (const std::string &Note : Notes) ADD_FAILURE() << "simulator note: " << Note;
}

std::vector<uint8_t> SmramHobData(uint32_t Count, const std::vector<Region> &Regions) {
  std::vector<uint8_t> Data(8 + Regions.size() * sizeof(EFI_SMRAM_DESCRIPTOR), 0);
  std::memcpy(Data.data(), &Count, sizeof(Count));
  for (size_t Index = 0; Index < Regions.size(); Index++) {
    const EFI_SMRAM_DESCRIPTOR Descriptor = {Regions[Index].Base, Regions[Index].Base, Regions[Index].Size,
                                             Regions[Index].State};
    std::memcpy(Data.data() + 8 + Index * sizeof(Descriptor), &Descriptor, sizeof(Descriptor));
  }
  return Data;
}

sim::Machine MachineWithSmram(const std::vector<Region> &Regions) {
  sim::Machine Description = sim::DefaultMachine();
  Description.Smram.clear();
  for (const Region &Each : Regions) Description.Smram.push_back({Each.Base, Each.Size, Each.State});
  return Description;
}

std::string Serial(sim::Platform &Machine) { return Machine.Devices().UartAt(0x3F8).TransmittedText(); }

uint64_t MsrOf(sim::Platform &Machine, size_t Processor, uint32_t Msr) {
  return Machine.Processors().At(Processor).PeekMsr(Msr).value_or(0);
}

std::vector<size_t> ProcessorsWhere(sim::Platform &Machine, uint32_t Msr, uint64_t Value) {
  std::vector<size_t> Differing;
  for (size_t Index = 0; Index < Machine.Processors().Count(); Index++) {
    if (MsrOf(Machine, Index, Msr) != Value) Differing.push_back(Index);
  }
  return Differing;
}

size_t WritesOf(sim::Platform &Machine, uint32_t Msr) {
  size_t Count = 0;
  for (size_t Index = 0; Index < Machine.Processors().Count(); Index++) {
    for (const sim::MsrWrite &Write : Machine.Processors().At(Index).MsrWrites()) Count += Write.Msr == Msr ? 1 : 0;
  }
  return Count;
}

}  // namespace smmtest
