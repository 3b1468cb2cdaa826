// Boots of a run that keep host memory and threads for the next boot show exactly what a boot
// on a fresh process shows: every record, register, variable, table and access count.
#include <gtest/gtest.h>

#include <string>

#include "driver/ImageDescriptor.h"
#include "sim/machine/Machine.h"
#include "sim/platform/BootRunner.h"
#include "tools/Report.h"
#include "tools/ServiceCalls.h"

namespace sim {
namespace {

void CallEveryService(Platform &Machine) {
  size_t Count = 0;
  const ccxsim::ServiceCall *Calls = ccxsim::ServiceCalls(Count);
  for (size_t Index = 0; Index < Count; Index++) Calls[Index].Run(Machine);
}

std::string BootAndDescribe(const Machine &Description) {
  BootOptions Options;
  Options.AfterBoot = CallEveryService;
  return ccxsim::BootJson(RunBoot(Description, CcxImageDescriptor, Options)).dump(1);
}

TEST(KeptResourcesBootTest, KeptMemoryAndThreadsChangeNothingABootShows) {
  // A coprocessor that contends for the SMM mutex makes the number of polls depend on the host's
  // scheduling; this machine's does not, so its boots repeat exactly.
  const Machine Description = LoadMachineFile(CCX_MACHINES_DIR "/bench-16.json");
  const std::string Fresh = BootAndDescribe(Description);
  KeepHostResourcesBetweenBoots(true);
  for (int Boot = 1; Boot <= 3; Boot++) EXPECT_EQ(BootAndDescribe(Description), Fresh) << "boot " << Boot;
  KeepHostResourcesBetweenBoots(false);
  EXPECT_EQ(BootAndDescribe(Description), Fresh) << "after keeping ended";
}

}  // namespace
}  // namespace sim
