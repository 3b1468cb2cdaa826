// Runs the fault sweep's table of promised failures on the delivered image: the same boots, each
// with one failing firmware call, with the driver loaded from the PE32+ file instead of the host
// copy. Skips, saying why, where image boots cannot run.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "sim/image/DeliveredImage.h"
#include "tests/sim/reliability/FaultSweep.h"

namespace {

class DeliveredImageSweep : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string Why;
    if (!sim::ImageTrapsSupported(Why)) GTEST_SKIP() << Why;
    Image_ = std::make_unique<sim::DeliveredImage>(CCX_FIRMWARE_IMAGE_PATH);
    sim::SweepWithLoader(Image_.get());
  }
  void TearDown() override { sim::SweepWithLoader(nullptr); }

 private:
  std::unique_ptr<sim::DeliveredImage> Image_;
};

const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new DeliveredImageSweep);

}  // namespace
