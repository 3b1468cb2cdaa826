// Configuration-space addressing, the host bridges' sideband pairs and the data-fabric window,
// reached through the MMIO bus as the driver reaches them.
#include "sim/devices/PciConfigWindow.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "arch/DataFabric.h"
#include "arch/PciEcam.h"
#include "sim/devices/DataFabricRegisters.h"
#include "sim/devices/MmioBus.h"

namespace sim {
namespace {

constexpr uint64_t Base = PciEcam::Segment0Base;
constexpr uint64_t Segment1 = Base + PciEcam::SegmentWindowSize;

class PciConfig : public ::testing::Test {
 protected:
  PciConfig() : Window(Base, 2, Sideband, {{0, 0}, {1, 0x40}}) { Bus.Attach(Window); }

  uint32_t Read32(uint64_t Address) { return static_cast<uint32_t>(Bus.Read(Address, 4)); }
  void Write32(uint64_t Address, uint32_t Value) { Bus.Write(Address, 4, Value); }

  MmioBus Bus;
  SidebandSpace Sideband;
  PciConfigWindow Window;
};

struct DecodeCase {
  PciFunction Where;
  uint32_t Register;
  uint64_t Address;
};

class ConfigAddress : public PciConfig, public ::testing::WithParamInterface<DecodeCase> {};

TEST_P(ConfigAddress, BusDeviceFunctionAndRegisterSelectOneRegister) {
  const DecodeCase &Case = GetParam();
  EXPECT_EQ(Window.AddressOf(Case.Where, Case.Register), Case.Address);
  Bus.Write(Case.Address, 4, 0xA5A5F00D);
  EXPECT_EQ(Window.Get(Case.Where, Case.Register, 4), 0xA5A5F00Du);
  Window.Set(Case.Where, Case.Register, 2, 0x1234);
  EXPECT_EQ(Bus.Read(Case.Address, 4), 0xA5A51234u);
  // The same register of the next function up is untouched.
  PciFunction Neighbour = Case.Where;
  Neighbour.Function ^= 1;
  EXPECT_EQ(Window.Get(Neighbour, Case.Register, 4), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Registers, ConfigAddress,
    ::testing::Values(DecodeCase{{0, 0, 0x14, 0}, 0xFC, 0x3FB000A00FCULL},
                      DecodeCase{{0, 0, 0x18, 0}, 0xC80, 0x3FB000C0C80ULL},
                      DecodeCase{{0, 0xFF, 0x1F, 7}, 0xFFC, 0x3FB0FFFFFFCULL},
                      DecodeCase{{0, 0x12, 0x03, 5}, 0x010, 0x3FB0121D010ULL},
                      DecodeCase{{1, 0x40, 0x02, 3}, 0x010, Segment1 + 0x04013010}));

TEST_F(PciConfig, FunctionNobodyWroteReadsZero) {
  EXPECT_EQ(Bus.Read(Base + PciEcam::OffsetOf(7, 3, 1, 0), 4), 0u);
  EXPECT_EQ(Bus.UnclaimedReadCount(), 0u);
}

TEST_F(PciConfig, ControllerHubRoutingRegisterKeepsReadModifyWrite) {
  const uint64_t Routing = 0x3FB000A00FCULL;
  Window.Set({0, 0, 0x14, 0}, 0xFC, 4, 0x00000042);
  Write32(Routing, Read32(Routing) | 1u << 29);
  Write32(Routing, Read32(Routing) | 1u << 28);
  EXPECT_EQ(Read32(Routing), 0x30000042u);
}

TEST_F(PciConfig, IndexDataPairReachesTheSidebandSpace) {
  Sideband.Set(0x13B102E0, 0xFEB00001);
  Write32(Base + 0xB8, 0x13B102E0);
  EXPECT_EQ(Read32(Base + 0xBC), 0xFEB00001u);
  Write32(Base + 0xB8, 0x03E30600);
  Write32(Base + 0xBC, 0xB000AC55);
  EXPECT_EQ(Sideband.Writes(), (std::vector<SidebandWrite>{{0x03E30600, 0xB000AC55, {0, 0}}}));
  EXPECT_EQ(Sideband.Peek(0x03E30600), 0xB000AC55u);
}

TEST_F(PciConfig, SaveAndRestoreOfTheIndexLeavesItAsBefore) {
  Sideband.Set(0x20002FEC, 0x06F70800);
  Write32(Base + 0xB8, 0x49001140);
  // Read a sideband register the way a careful reader does: keep the index, use it, put it back.
  uint32_t Saved = Read32(Base + 0xB8);
  Write32(Base + 0xB8, 0x20002FEC);
  uint32_t Value = Read32(Base + 0xBC);
  Write32(Base + 0xB8, Saved);
  EXPECT_EQ(Value, 0x06F70800u);
  EXPECT_EQ(Window.SidebandIndex({0, 0}), 0x49001140u);
  EXPECT_TRUE(Sideband.Writes().empty()) << "moving the index writes nothing to the sideband space";
}

TEST_F(PciConfig, EachHostBridgeHasItsOwnIndex) {
  const uint64_t Bridge1 = Segment1 + PciEcam::OffsetOf(0x40, 0, 0, 0);
  Write32(Base + 0xB8, 0x100);
  Write32(Bridge1 + 0xB8, 0x200);
  Write32(Bridge1 + 0xBC, 7);
  EXPECT_EQ(Window.SidebandIndex({0, 0}), 0x100u);
  EXPECT_EQ(Sideband.Writes(), (std::vector<SidebandWrite>{{0x200, 7, {1, 0x40}}}));
}

TEST_F(PciConfig, PairOffsetsOfAnOrdinaryFunctionArePlainRegisters) {
  const uint64_t Ordinary = Base + PciEcam::OffsetOf(1, 0, 0, 0);
  Write32(Ordinary + 0xB8, 0x03E30600);
  Write32(Ordinary + 0xBC, 0x55);
  EXPECT_TRUE(Sideband.Writes().empty());
  EXPECT_EQ(Read32(Ordinary + 0xBC), 0x55u);
  EXPECT_THROW(Window.SidebandIndex({0, 1}), std::out_of_range);
}

TEST_F(PciConfig, UnknownSidebandReadsAnswerTheDefaultAndAreRemembered) {
  Sideband.SetDefaultValue(0xDEADBEEF);
  Write32(Base + 0xB8, 0x49001140);
  EXPECT_EQ(Read32(Base + 0xBC), 0xDEADBEEFu);
  Read32(Base + 0xBC);
  Sideband.Set(0x49001144, 1);
  Write32(Base + 0xB8, 0x49001144);
  EXPECT_EQ(Read32(Base + 0xBC), 1u);
  EXPECT_EQ(Sideband.UnknownReads(), (std::map<uint32_t, uint64_t>{{0x49001140, 2}}));
}

TEST_F(PciConfig, WindowCoversExactlyItsSegments) {
  EXPECT_EQ(Bus.OwnerOf(Base + 2 * PciEcam::SegmentWindowSize - 1), &Window);
  EXPECT_EQ(Bus.OwnerOf(Base + 2 * PciEcam::SegmentWindowSize), nullptr);
  EXPECT_THROW(Window.AddressOf({2, 0, 0, 0}, 0), std::invalid_argument);
}

TEST(PciConfigWindow, HostBridgeOnAMissingSegmentIsRefused) {
  SidebandSpace Sideband;
  EXPECT_THROW(PciConfigWindow(Base, 1, Sideband, {{1, 0}}), std::invalid_argument);
  EXPECT_THROW(PciConfigWindow(Base, 1, Sideband, {{0, 0}, {0, 0}}), std::invalid_argument);
  EXPECT_THROW(PciConfigWindow(Base + 0x1000, 1, Sideband, {}), std::invalid_argument);
}

TEST(SidebandSpace, HandlerServesItsAddressAndCannotBeMappedTwice) {
  SidebandSpace Sideband;
  uint32_t Written = 0;
  Sideband.MapRegister(0x100, "Special", [] { return 0x42u; }, [&Written](uint32_t V) { Written = V; });
  Sideband.Write(0x100, 9, {0, 3});
  EXPECT_EQ(Written, 9u);
  EXPECT_EQ(Sideband.Read(0x100), 0x42u);
  EXPECT_TRUE(Sideband.UnknownReads().empty());
  EXPECT_EQ(Sideband.Writes(), (std::vector<SidebandWrite>{{0x100, 9, {0, 3}}}));
  EXPECT_THROW(Sideband.MapRegister(0x100, "Again", {}, {}), std::logic_error);
}

// Searches the fabric's host-bridge map the way the driver does.
uint32_t FindSidebandBridge(MmioBus &Bus) {
  for (uint32_t Offset = 0xC80; Offset <= 0xCF8; Offset += 8) {
    uint32_t B = static_cast<uint32_t>(Bus.Read(DataFabric::WindowBase + Offset, 4));
    uint32_t L = static_cast<uint32_t>(Bus.Read(DataFabric::WindowBase + Offset + 4, 4));
    if ((B & 3) == 3 && (L & 0xFFF) == 0x21) {
      return ((B >> 8) & 0xFF) * 256 + ((B >> 16) & 0xFF);
    }
  }
  return 0xFFFFFFFF;
}

TEST_F(PciConfig, FabricHostBridgeMapLeadsToTheSidebandBridge) {
  DataFabricRegisters Fabric(Window);
  Fabric.SetHostBridgeMap({{{0, 0}, 0x20}, {{1, 0x40}, 0x21}});
  EXPECT_EQ(Read32(0x3FB000C0C80ULL), 0x00000003u);
  EXPECT_EQ(Read32(0x3FB000C0C88ULL), 0x00400103u);
  EXPECT_EQ(Read32(0x3FB000C0C8CULL), 0x21u);
  EXPECT_EQ(FindSidebandBridge(Bus), 0x0140u);
  Fabric.SetHostBridgeMap({{{0, 0}, 0x20}});
  EXPECT_EQ(FindSidebandBridge(Bus), 0xFFFFFFFFu) << "entries past the map are cleared";
}

TEST_F(PciConfig, FabricRegistersAreSettableAndSeenInTheWindow) {
  DataFabricRegisters Fabric(Window);
  Fabric.Set(0x44, 0x12345678);
  EXPECT_EQ(Read32(DataFabric::WindowBase + 0x44), 0x12345678u);
  Write32(DataFabric::WindowBase + 0xFFC, 5);
  EXPECT_EQ(Fabric.Get(0xFFC), 5u);
  EXPECT_THROW(Fabric.Get(0x1000), std::out_of_range);
  EXPECT_THROW(Fabric.Set(0x42, 0), std::out_of_range);
  EXPECT_THROW(Fabric.SetHostBridgeMap(std::vector<HostBridgeRoute>(17)), std::invalid_argument);
}

}  // namespace
}  // namespace sim
