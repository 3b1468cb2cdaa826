// The standard device set: what a default platform answers where, and a legacy serial port
// set-up replayed through the buses as the driver's debug channel performs it.
#include "sim/devices/DeviceSet.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "arch/Chipset.h"
#include "arch/PciEcam.h"

namespace sim {
namespace {

TEST(DeviceSet, DefaultPlatformAnswersAtEveryStandardAddress) {
  DeviceSet Devices;
  IoBus &Io = Devices.Io();
  MmioBus &Mmio = Devices.Mmio();
  EXPECT_EQ(Io.OwnerOf(0x80), &Devices.PostCodes());
  EXPECT_EQ(Io.OwnerOf(0xE0), &Devices.PostCodes());
  EXPECT_EQ(Io.OwnerOf(0x3FD), &Devices.UartAt(0x3F8));
  EXPECT_EQ(Io.OwnerOf(0x2FF), &Devices.UartAt(0x2F8));
  EXPECT_EQ(Mmio.OwnerOf(0x3FB000000B8ULL), &Devices.Pci());
  EXPECT_EQ(Mmio.OwnerOf(0xFED80298), &Devices.ChipsetBlock());
  EXPECT_EQ(Mmio.OwnerOf(0xFEDCF008), &Devices.ChipsetBlock());
  EXPECT_EQ(Mmio.OwnerOf(Devices.Coprocessor().Config().MmioBase), &Devices.Coprocessor());
  EXPECT_THROW(Devices.UartAt(0x3E8), std::out_of_range);
}

TEST(DeviceSet, DefaultFabricMapNamesTheSidebandBridge) {
  DeviceSet Devices;
  EXPECT_EQ(Devices.Mmio().Read(0x3FB000C0C80ULL, 4), 0x00000003u);
  EXPECT_EQ(Devices.Mmio().Read(0x3FB000C0C84ULL, 4), 0x21u);
  EXPECT_EQ(Devices.Mmio().Read(0x3FB000C0C88ULL, 4), 0u);
}

TEST(DeviceSet, LegacySerialSetUpLeavesItsTraceOnEveryDevice) {
  DeviceSet Devices;
  MmioBus &Mmio = Devices.Mmio();
  IoBus &Io = Devices.Io();
  const uint64_t Routing = PciEcam::AddressOf(PciEcam::Segment0Base, 0, 0x14, 0, 0xFC);
  ASSERT_EQ(Routing, 0x3FB000A00FCULL);

  Mmio.Write(0xFEDC0020, 2, 0x040A);
  Mmio.Write(0xFEDCA008, 2, Mmio.Read(0xFEDCA008, 2) | 1);
  Mmio.Write(Routing, 4, Mmio.Read(Routing, 4) | 1u << 29);
  Mmio.Write(0xFEDC9008, 2, Mmio.Read(0xFEDC9008, 2) | 1);
  Mmio.Write(Routing, 4, Mmio.Read(Routing, 4) | 1u << 28);
  for (auto [Port, Value] : {std::pair{0x2FB, 0x80}, {0x2F9, 0x00}, {0x2F8, 0x01}, {0x2FB, 0x03}, {0x2FA, 0x07}, {0x2FC, 0x00}}) {
    Io.WritePort(static_cast<uint16_t>(Port), 1, Value);
  }
  for (uint64_t Address : ::Chipset::SerialPinByteRegisters) {
    Mmio.Write(Address, 1, 0);
  }
  Mmio.Write(::Chipset::SerialPinWordRegister, 4, 0);
  Io.WritePort(0x2F8, 1, 'A');

  EXPECT_EQ(Devices.ChipsetBlock().Writes(),
            (std::vector<ChipsetWrite>{{0xFEDC0020, 2, 0x040A}, {0xFEDCA008, 2, 1}, {0xFEDC9008, 2, 1},
                                       {0xFED80D87, 1, 0}, {0xFED81720, 1, 0}, {0xFED80D89, 1, 0},
                                       {0xFED80D8A, 1, 0}, {0xFED80D8E, 1, 0}, {0xFED80D8F, 1, 0},
                                       {0xFED80D8C, 4, 0}}));
  EXPECT_EQ(Devices.Pci().Get({0, 0, 0x14, 0}, 0xFC, 4), 0x30000000u);
  Uart &Serial = Devices.UartAt(0x2F8);
  EXPECT_EQ(Serial.Divisor(), 1u);
  EXPECT_EQ(Io.ReadPort(0x2FB, 1) & 0x3F, 0x03u);
  EXPECT_EQ(Serial.TransmittedText(), "A");
  EXPECT_TRUE(Devices.UartAt(0x3F8).Programming().empty());
  EXPECT_EQ(Mmio.UnclaimedReadCount() + Mmio.UnclaimedWriteCount() + Io.UnclaimedWriteCount(), 0u);
}

TEST(DeviceSet, FurtherSegmentsAndHostBridgesFollowTheDescription) {
  DeviceSetConfig Config;
  Config.PciSegmentCount = 2;
  Config.HostBridges = {{{0, 0}, 0x20}, {{1, 0x80}, 0x21}};
  DeviceSet Devices(Config);
  const uint64_t Bridge = PciEcam::AddressOf(PciEcam::Segment0Base + PciEcam::SegmentWindowSize, 0x80, 0, 0, 0);
  Devices.Mmio().Write(Bridge + 0xB8, 4, 0x49001140);
  Devices.Mmio().Write(Bridge + 0xBC, 4, 0xF);
  EXPECT_EQ(Devices.Sideband().Writes(), (std::vector<SidebandWrite>{{0x49001140, 0xF, {1, 0x80}}}));
  EXPECT_EQ(Devices.Mmio().Read(0x3FB000C0C88ULL, 4), 0x00800103u);
}

struct BadSet {
  const char *Name;
  DeviceSetConfig Config;
};

DeviceSetConfig WithHcuBase(uint64_t Base) {
  DeviceSetConfig Config;
  Config.Coprocessor.MmioBase = Base;
  return Config;
}

DeviceSetConfig WithUarts(std::vector<uint64_t> Bases) {
  DeviceSetConfig Config;
  Config.UartBases = std::move(Bases);
  return Config;
}

DeviceSetConfig WithBridgeOnSegment(uint16_t Segment) {
  DeviceSetConfig Config;
  Config.HostBridges = {{{Segment, 0}, 0x21}};
  return Config;
}

class DeviceSetCheck : public ::testing::TestWithParam<BadSet> {};

TEST_P(DeviceSetCheck, InconsistentDescriptionIsRefused) {
  EXPECT_THROW(DeviceSet{GetParam().Config}, std::invalid_argument);
}

INSTANTIATE_TEST_SUITE_P(
    Descriptions, DeviceSetCheck,
    ::testing::Values(BadSet{"CoprocessorOverPciWindow", WithHcuBase(0x3FB00000000ULL)},
                      BadSet{"CoprocessorOverChipset", WithHcuBase(0xFED00000)},
                      BadSet{"SameUartTwice", WithUarts({0x3F8, 0x3F8})},
                      BadSet{"UartOverPostPorts", WithUarts({0x7C})},
                      BadSet{"BridgeOnMissingSegment", WithBridgeOnSegment(1)}),
    [](const auto &Info) { return std::string(Info.param.Name); });

}  // namespace
}  // namespace sim
