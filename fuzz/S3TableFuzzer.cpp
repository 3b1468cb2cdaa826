// Fuzzes the S3 save table as the platform's other drivers leave it at ready-to-boot: its header
// words (signature, size, next offset), the end guard and the entries, then the check and the
// close-table hand-off. The library start-up creates the table on a small simulated machine, with
// a requested size the input picks; the input then overwrites what other drivers may write.
// Invariants: a table the check passes has its end mark inside the block the driver made, and a
// table the check refuses is neither written, nor handed over, nor given back.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "driver/ImageState.h"
#include "driver/S3SaveLib.h"
#include "fuzz/FuzzPlatform.h"
#include "fuzz/Outcome.h"
#include "interfaces/PlatformConfig.h"
#include "interfaces/S3SaveTable.h"

namespace {

// What the other drivers leave in the table's header and after it.
struct TableWords {
  bool KeepSignature;
  uint32_t Signature;
  bool KeepSize;
  uint64_t TableSize;
  uint64_t NextOffset;
  bool KeepGuard;
  uint32_t Guard;
  std::vector<uint8_t> Entries;
};

TableWords ReadWords(FuzzedDataProvider &Input) {
  TableWords Words;
  Words.KeepSignature = Input.ConsumeProbability<float>() < 0.9f;
  Words.Signature = Input.ConsumeIntegral<uint32_t>();
  Words.KeepSize = Input.ConsumeProbability<float>() < 0.8f;
  Words.TableSize = Input.ConsumeIntegral<uint64_t>();
  // Mostly offsets near the table's end, where a mark that does not fit would land past it.
  Words.NextOffset = Input.ConsumeBool() ? Input.ConsumeIntegralInRange<uint64_t>(0, 0x6010)
                                         : Input.ConsumeIntegral<uint64_t>();
  Words.KeepGuard = Input.ConsumeProbability<float>() < 0.9f;
  Words.Guard = Input.ConsumeIntegral<uint32_t>();
  Words.Entries = Input.ConsumeRemainingBytes<uint8_t>();
  return Words;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size) {
  FuzzedDataProvider Input(Data, Size);
  sim::Machine Machine = fuzz::SmallMachine();
  Machine.Pcd[PcdQorvexS3LibTableSize] = Input.ConsumeIntegralInRange<uint64_t>(0, 0x6000);
  const TableWords Words = ReadWords(Input);

  fuzz::FuzzRun Run;
  Run.Prepare = [](sim::Platform &Platform) { Platform.PublishHobList(); };
  Run.Drive = [&](sim::Platform &Platform, EFI_HANDLE ImageHandle) {
    CcxImageDescriptor.LibraryStartup(ImageHandle, Platform.Core().SystemTable());
    QorvexS3LibPrivateData *Record = CcxImage::QorvexS3LibRecord();
    const uint64_t Created = CcxImage::gImage.S3.TableSize;
    if (Record == nullptr || Record->Table == 0 || Created == 0) {
      fuzz::Fail("the library start-up made no table on a machine with room for it");
    }
    auto *Table = reinterpret_cast<uint8_t *>(static_cast<uintptr_t>(Record->Table));
    auto *Header = reinterpret_cast<QorvexS3LibTableHeader *>(Table);
    if (!Words.KeepSignature) Header->Signature = Words.Signature;
    if (!Words.KeepSize) Header->TableSize = Words.TableSize;
    Header->NextOffset = Words.NextOffset;
    if (!Words.KeepGuard) std::memcpy(Table + Created, &Words.Guard, sizeof(Words.Guard));
    const size_t Room = static_cast<size_t>(Created - QORVEX_S3_TABLE_FIRST_ENTRY);
    if (!Words.Entries.empty()) {
      std::memcpy(Table + QORVEX_S3_TABLE_FIRST_ENTRY, Words.Entries.data(),
                  Words.Entries.size() < Room ? Words.Entries.size() : Room);
    }

    const uint32_t Check = CcxImage::QorvexS3LibCheckTable();
    uint32_t Guard = 0;
    std::memcpy(&Guard, Table + Created, sizeof(Guard));
    const bool Sound = Header->Signature == QORVEX_S3_TABLE_SIGNATURE && Header->TableSize == Created &&
                       Guard == S3_TABLE_END_GUARD && Header->NextOffset >= QORVEX_S3_TABLE_FIRST_ENTRY &&
                       Header->NextOffset <= Created + sizeof(Guard) - sizeof(uint16_t);
    if ((Check == CcxImage::S3_CHECK_GOOD) != Sound) {
      fuzz::Fail(Sound ? "the check refused a sound table" : "the check passed a table whose end mark does not fit");
    }
    const std::vector<uint8_t> Before(Table, Table + Created + sizeof(Guard));
    CcxImage::QorvexS3SaveCloseTableCallBack(nullptr, nullptr);
    // A table that passed its check is handed over (and may be gone): its bytes are those before.
    for (uint64_t Seen : {uint64_t{Check}, Created, uint64_t{Record->Closed}}) fuzz::Observe(Seen);
    fuzz::ObserveBytes(Before.data(), Before.size());
    if (Check != CcxImage::S3_CHECK_GOOD) {
      if (Record->Closed != 0) fuzz::Fail("a table that failed its check was handed over");
      if (std::memcmp(Before.data(), Table, Before.size()) != 0) fuzz::Fail("a table that failed its check was written");
    }
  };
  fuzz::RunOnPlatform(Machine, Run);
  return 0;
}
