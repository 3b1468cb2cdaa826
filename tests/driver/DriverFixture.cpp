#include "tests/driver/DriverFixture.h"

#include <sstream>

#include "arch/PostCode.h"
#include "interfaces/QorvexGuids.h"

namespace fake {

HookRecorder::HookRecorder(FakeFirmware &Firmware) : Record_{{Hook}, this} {
  Firmware.NameGuid(gQorvexZrbOptionHookProtocolGuid, "OptionHook");
  Firmware.AddProtocol(gQorvexZrbOptionHookProtocolGuid, &Record_);
}

EFI_STATUS EFIAPI HookRecorder::Hook(EFI_BOOT_SERVICES *, ZRB_OPTION_HOOK_REQUEST *, UINT32 HookId,
                                     QORVEX_ZRB_OPTION_HOOK_PROTOCOL *This) {
  reinterpret_cast<Record *>(This)->Owner->Hooks.push_back(HookId);
  return EFI_SUCCESS;
}

}  // namespace fake

DriverFixture::DriverFixture() {
  image::ImageLoad();
  image::gImage.Library.SystemTable = Firmware.SystemTable();
  image::gImage.Library.BootServices = Firmware.SystemTable()->BootServices;
  image::gImage.Library.RuntimeServices = Firmware.SystemTable()->RuntimeServices;
  TEST_POINT_CONFIG &Config = image::gImage.Library.TestPointConfig;
  Config.TestPointPortEnable = 1;
  Config.TestPointPortWidth = 3;
  Config.FatalStopEnable = 1;
  Firmware.NameGuid(gQorvexCcxOcCompleteProtocolGuid, "OcComplete");
  Firmware.NameGuid(gQorvexDownCoreStatusVariableGuid, "DownCore");
}

std::string DriverFixture::Uart() const {
  std::string Text;
  for (const fake::PortWrite &Write : Firmware.PortWrites) {
    if (Write.Port == 0x3F8 && Write.Width == 1 && Write.Value != '\r') Text += static_cast<char>(Write.Value);
  }
  return Text;
}

std::vector<std::string> DriverFixture::Lines() const {
  std::vector<std::string> Result;
  std::istringstream Stream(Uart());
  std::string Line;
  while (std::getline(Stream, Line)) {
    if (Line.rfind("VELTA_TP:", 0) != 0) Result.push_back(Line);
  }
  return Result;
}

std::vector<uint32_t> DriverFixture::TestPoints() const {
  std::vector<uint32_t> Codes;
  for (const fake::PortWrite &Write : Firmware.PortWrites) {
    if (Write.Port == PostCode::Port && Write.Width == 4 && (Write.Value & 0xFFFF0000) == PostCode::TestPointPrefix) {
      Codes.push_back(Write.Value & 0xFFFF);
    }
  }
  return Codes;
}

std::vector<uint32_t> DriverFixture::FatalStops() const {
  std::vector<uint32_t> Codes;
  const auto &Writes = Firmware.PortWrites;
  for (size_t Index = 0; Index + 1 < Writes.size(); Index++) {
    if (Writes[Index].Port == PostCode::FatalStopPort && Writes[Index + 1].Port == PostCode::Port) {
      Codes.push_back(Writes[Index + 1].Value);
    }
  }
  return Codes;
}
