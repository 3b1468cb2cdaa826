#include "tools/S3TokensReport.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

#include "arch/Msr.h"
#include "sim/HexText.h"
#include "sim/oracle/AnswerCheck.h"
#include "tools/ReportNames.h"

namespace ccxsim {
namespace {

using sim::Hex;

std::string ProcessorList(const std::vector<size_t> &Which, size_t Count) {
  if (Which.size() == Count) return "all " + std::to_string(Count) + " processors";
  return sim::ProcessorListText(Which);
}

std::string TableState(const sim::TokenTableView &Table) {
  if (Table.Offset == 0) return "not initialized (offset 0)";
  if (!Table.Problem.empty()) return "unreadable: " + Table.Problem;
  return "offset " + Hex(Table.Offset) + ", capacity " + std::to_string(Table.Capacity) + " bytes, " +
         std::to_string(Table.Count) + " tokens";
}

// One table after the boot, each token marked by how it differs from the table before.
void PrintTokenTable(std::ostream &Out, const char *Name, const sim::TokenTableView &Before,
                     const sim::TokenTableView &After, int ValueDigits) {
  Out << "  " << Name << ": " << TableState(Before) << " -> " << TableState(After) << "\n";
  std::map<uint32_t, uint16_t> Old(Before.Tokens.begin(), Before.Tokens.end());
  size_t NameWidth = 0;
  for (const auto &Token : After.Tokens) NameWidth = std::max(NameWidth, TokenName(Token.first).size());
  for (const auto &[Uid, Value] : After.Tokens) {
    auto It = Old.find(Uid);
    std::string Change = It == Old.end() ? "  (new)"
                         : It->second != Value ? "  (was " + Hex(It->second, ValueDigits) + ")"
                                               : "";
    Out << "    " << WithName(Hex(Uid, 8), TokenName(Uid), NameWidth) << " = " << Hex(Value, ValueDigits) << Change
        << "\n";
  }
}

nlohmann::json TableJson(const sim::TokenTableView &Table) {
  nlohmann::json Json = {{"offset", Table.Offset},       {"initialized", Table.Initialized},
                         {"capacity", Table.Capacity},   {"count", Table.Count},
                         {"problem", Table.Problem},     {"tokens", nlohmann::json::array()}};
  for (const auto &[Uid, Value] : Table.Tokens) {
    Json["tokens"].push_back({{"uid", Hex(Uid, 8)}, {"name", TokenName(Uid)}, {"value", Value}});
  }
  return Json;
}

nlohmann::json StoreJson(const sim::TokenStoreView &Store) {
  if (!Store.Present) return nullptr;
  return {{"size", Store.Size}, {"table8", TableJson(Store.Table8)}, {"table16", TableJson(Store.Table16)}};
}

void PrintHandoff(std::ostream &Out, const sim::S3HandoffView &View) {
  Out << "  message: length " << View.MessageLength << ", command " << View.Command << ", record at "
      << Hex(View.RecordAddress) << "\n";
  if (View.RecordRead) {
    Out << "  record: Locked " << unsigned(View.Locked) << ", Closed " << unsigned(View.Closed) << ", table at "
        << Hex(View.TableAddress) << "\n";
  }
  if (View.TableRead) {
    Out << "  table: signature " << Hex(View.Signature, 8) << ", version " << View.Version << ", size "
        << Hex(View.TableSize) << ", next offset " << View.NextOffset << "\n";
    Out << "  entries (" << View.Entries.size() << "):\n";
    for (const sim::S3EntryView &Entry : View.Entries) {
      Out << "    at " << Entry.Offset << ": kind " << Entry.Kind << ", " << Entry.Length << " bytes\n";
    }
  }
  if (View.EndMarkFound) Out << "  end mark 0xFFFF at offset " << View.EndMarkOffset << "\n";
  if (!View.Problem.empty()) Out << "  ERROR: " << View.Problem << "\n";
}

}  // namespace

void PrintS3Tokens(std::ostream &Out, const sim::BootRecord &Boot) {
  const sim::S3TokensRecord &Record = Boot.S3Tokens;
  Out << "\nconfiguration tokens (ActDb, before -> after):\n";
  if (!Record.TokensBefore.Present && !Record.TokensAfter.Present) {
    Out << "  no token store\n";
  } else {
    PrintTokenTable(Out, "8-bit tokens", Record.TokensBefore.Table8, Record.TokensAfter.Table8, 2);
    PrintTokenTable(Out, "16-bit tokens", Record.TokensBefore.Table16, Record.TokensAfter.Table16, 4);
  }
  for (const std::string &Error : Record.TokenErrors) Out << "  ERROR: " << Error << "\n";

  Out << "\nSMU messages (" << Record.SmuMessages.size() << "):\n";
  if (Record.SmuMessages.empty()) Out << "  none\n";
  for (const sim::SmuCall &Call : Record.SmuMessages) {
    Out << "  message " << Hex(Call.Address, 2) << "  argument " << Call.Value << " (" << Hex(Call.Value) << ")\n";
  }

  Out << "\nP-state 0 (MSR " << WithName(Hex(Msr::PstateDef0::Number, 8), MsrName(Msr::PstateDef0::Number))
      << ") of every processor:\n";
  for (const sim::Pstate0Group &Group : Record.Pstate0) {
    Out << "  " << Hex(Group.Value, 16) << "  " << ProcessorList(Group.Processors, Boot.ProcessorCount) << "\n";
  }

  Out << "\nS3 save table: record at " << Hex(Record.S3RecordAddress) << ", table at " << Hex(Record.S3TableAddress)
      << "\n";
  if (Record.S3RecordRead) {
    Out << "  record after the boot: Locked " << unsigned(Record.S3Locked) << ", Closed " << unsigned(Record.S3Closed)
        << "\n";
  }
  Out << "  as the SMM side read it during the hand-off:\n";
  if (Record.S3Handoffs.empty()) Out << "  the SMM side received no hand-off\n";
  for (const sim::S3HandoffView &View : Record.S3Handoffs) PrintHandoff(Out, View);
}

nlohmann::json S3TokensJson(const sim::BootRecord &Boot) {
  const sim::S3TokensRecord &Record = Boot.S3Tokens;
  nlohmann::json Json;
  Json["tokens_before"] = StoreJson(Record.TokensBefore);
  Json["tokens_after"] = StoreJson(Record.TokensAfter);
  Json["token_errors"] = Record.TokenErrors;
  Json["smu_messages"] = nlohmann::json::array();
  for (const sim::SmuCall &Call : Record.SmuMessages) {
    Json["smu_messages"].push_back({{"message", Hex(Call.Address)}, {"argument", Call.Value}, {"status", Call.Status}});
  }
  Json["pstate0"] = nlohmann::json::array();
  for (const sim::Pstate0Group &Group : Record.Pstate0) {
    Json["pstate0"].push_back({{"value", Hex(Group.Value, 16)}, {"processors", Group.Processors}});
  }
  Json["s3_record"] = Hex(Record.S3RecordAddress);
  Json["s3_table"] = Hex(Record.S3TableAddress);
  Json["s3_record_after"] = Record.S3RecordRead
                                ? nlohmann::json{{"locked", Record.S3Locked}, {"closed", Record.S3Closed}}
                                : nlohmann::json(nullptr);
  Json["s3_handoffs"] = nlohmann::json::array();
  for (const sim::S3HandoffView &View : Record.S3Handoffs) {
    nlohmann::json Entries = nlohmann::json::array();
    for (const sim::S3EntryView &Entry : View.Entries) {
      Entries.push_back({{"offset", Entry.Offset}, {"kind", Entry.Kind}, {"length", Entry.Length}});
    }
    Json["s3_handoffs"].push_back({{"command", View.Command},
                                   {"message_length", View.MessageLength},
                                   {"record", Hex(View.RecordAddress)},
                                   {"locked", View.Locked},
                                   {"closed", View.Closed},
                                   {"table", Hex(View.TableAddress)},
                                   {"table_size", View.TableSize},
                                   {"next_offset", View.NextOffset},
                                   {"entries", Entries},
                                   {"end_mark_found", View.EndMarkFound},
                                   {"end_mark_offset", View.EndMarkOffset},
                                   {"problem", View.Problem}});
  }
  return Json;
}

}  // namespace ccxsim
