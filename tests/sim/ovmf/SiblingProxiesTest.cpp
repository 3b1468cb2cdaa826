// The sibling services offered to real firmware: each protocol's function slots are told apart
// from its data, the firmware's own services are left out and its configuration database replaced,
// and a call through a proxy reaches the simulator's sibling with the proxy's address turned into
// the simulator's interface and the caller's pointers followed.
#include "sim/ovmf/SiblingProxies.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "interfaces/FabricTopologyServices.h"
#include "sim/machine/Machine.h"

namespace sim {
namespace {

using namespace ccx_channel;

struct Offers {
  OfferList List{};
  std::vector<ProtocolOffer> Each;
};

Offers Read(const uint8_t *Data) {
  Offers Read;
  std::memcpy(&Read.List, Data, sizeof(Read.List));
  size_t Offset = sizeof(Read.List);
  for (uint32_t Index = 0; Index < Read.List.Count; Index++) {
    ProtocolOffer Offer;
    std::memcpy(&Offer, Data + Offset, sizeof(Offer));
    Read.Each.push_back(Offer);
    Offset += sizeof(Offer) + Offer.Slots * 8;
  }
  return Read;
}

TEST(SiblingProxies, OffersFunctionsCallsThroughAndLeavesTheFirmwaresOwnOut) {
  BootControl Control;
  Platform Machine(LoadMachineFile(std::string(CCX_MACHINES_DIR) + "/two-socket-small.json"), {}, Control);
  SiblingProxies Proxies(Machine);
  std::vector<uint8_t> Data(kMailboxSize);
  Proxies.Offer({"mp_services", "variable_write", "pcd", "fabric_topology"}, Data.data(), Data.size());
  const Offers Offered = Read(Data.data());
  ASSERT_EQ(Offered.List.Count, 3u);  // the two configuration-database protocols and the topology
  EXPECT_EQ(Offered.Each[0].Replace, 1u);
  EXPECT_EQ(Offered.Each[1].Replace, 1u);
  const ProtocolOffer &Topology = Offered.Each[2];
  EXPECT_EQ(Topology.Replace, 0u);
  EXPECT_EQ(Topology.Proxy, 2u);
  EXPECT_EQ(Topology.Slots, sizeof(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL) / 8);
  const uint32_t SocketsSlot = offsetof(QORVEX_FABRIC_TOPOLOGY_SERVICES_PROTOCOL, GetNumberOfSockets) / 8;
  EXPECT_TRUE((Topology.FunctionMask >> SocketsSlot) & 1);
  EXPECT_FALSE(Topology.FunctionMask & 1);  // its revision

  // The proxy's own address, passed as This, becomes the simulator's interface.
  const uint64_t ProxyAt = 0x123000;
  uint64_t Sockets = 0;
  CallFrame Frame{ProxyAt, {ProxyAt, reinterpret_cast<uint64_t>(&Sockets)}};
  EXPECT_EQ(Proxies.Call(Topology.Proxy * kSlotsPerProxy + SocketsSlot, Frame), 0u);
  EXPECT_EQ(Sockets, 2u);
  EXPECT_THROW(Proxies.Call(5 * kSlotsPerProxy, Frame), std::runtime_error);  // no such proxy
}

}  // namespace
}  // namespace sim
