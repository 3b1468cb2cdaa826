// Finding the instructions real firmware must make trap: decoded, so bytes that only look like a
// privileged instruction inside another one are left alone, and the delivered image's own sites
// are all instructions the emulator answers.
#include "sim/image/TrapSites.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "tests/sim/image/PeBuilder.h"

namespace sim {
namespace {

TEST(TrapSites, DecodedInstructionsOnlyNotBytePatterns) {
  PeBuilder Builder;
  std::vector<uint8_t> &Text = Builder.Sections[0].Data;
  std::fill(Text.begin(), Text.end(), 0x90);
  const std::vector<uint8_t> Code = {
      0xB8, 0x0F, 0x32, 0x00, 0x00,  // 0x00 mov eax, 0x320F: RDMSR's bytes inside an immediate
      0x0F, 0x32,                    // 0x05 rdmsr
      0xEC,                          // 0x07 in al, dx
      0x0F, 0x30,                    // 0x08 wrmsr
      0x48, 0x8B, 0x05, 0x0F, 0xA2, 0x00, 0x00,  // 0x0A mov rax, [rip+0xA20F]: CPUID's bytes in a displacement
      0x0F, 0xA2,                    // 0x11 cpuid
      0xE6, 0x80,                    // 0x13 out 0x80, al
      0x0F, 0x22, 0xD8,              // 0x15 mov cr3, rax: privileged, not emulated
      0xD6,                          // 0x18 no instruction in 64-bit mode: decoding steps over it
      0x0F, 0x09,                    // 0x19 wbinvd
      0xC3,                          // 0x1B ret
  };
  std::copy(Code.begin(), Code.end(), Text.begin());
  const std::vector<uint8_t> File = Builder.Bytes();
  const std::vector<TrapSite> Sites = FindTrapSites(File, ParsePeImage(File, "built.efi"));

  const uint32_t Base = Builder.Sections[0].Header.VirtualAddress;
  std::vector<std::tuple<uint32_t, unsigned, TrapKind>> Found;
  for (const TrapSite &Site : Sites) Found.emplace_back(Site.Rva - Base, Site.Length, Site.Kind);
  const std::vector<std::tuple<uint32_t, unsigned, TrapKind>> Expected = {
      {0x05, 2, TrapKind::MsrRead},  {0x07, 1, TrapKind::PortRead},  {0x08, 2, TrapKind::MsrWrite},
      {0x11, 2, TrapKind::Cpuid},    {0x13, 2, TrapKind::PortWrite}, {0x15, 3, TrapKind::Count},
      {0x19, 2, TrapKind::CacheFlush}};
  EXPECT_EQ(Found, Expected);
  ASSERT_NE(TrapSiteAt(Sites, Base + 0x13), nullptr);
  EXPECT_EQ(TrapSiteAt(Sites, Base + 0x13)->Bytes[1], 0x80);
  EXPECT_EQ(TrapSiteAt(Sites, Base + 0x14), nullptr);
}

TEST(TrapSites, TheDeliveredImageUsesOnlyInstructionsTheEmulatorAnswers) {
  const std::filesystem::path Path = CCX_TRAP_SITES_FIRMWARE_IMAGE;
  if (!std::filesystem::exists(Path)) GTEST_SKIP() << Path << " is not built (target ccx_firmware_image)";
  std::ifstream Stream(Path, std::ios::binary);
  const std::vector<uint8_t> File{std::istreambuf_iterator<char>(Stream), {}};
  const std::vector<TrapSite> Sites = FindTrapSites(File, ParsePeImage(File, Path.filename().string()));
  std::set<TrapKind> Kinds;
  for (const TrapSite &Site : Sites) {
    EXPECT_NE(Site.Kind, TrapKind::Count) << Site.Mnemonic << " at RVA 0x" << std::hex << Site.Rva;
    Kinds.insert(Site.Kind);
  }
  for (TrapKind Needed : {TrapKind::Cpuid, TrapKind::MsrRead, TrapKind::MsrWrite, TrapKind::PortRead,
                          TrapKind::PortWrite}) {
    EXPECT_TRUE(Kinds.count(Needed)) << "no " << TrapKindName(Needed) << " site found";
  }
}

}  // namespace
}  // namespace sim
