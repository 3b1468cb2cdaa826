#include "sim/oracle/AnswerCheck.h"

#include "sim/HexText.h"

namespace sim {

std::string ShownValue(uint64_t Value) { return Value < 0x10000 ? std::to_string(Value) : Hex(Value); }

bool AnswerCheck::Field(const std::string &Record, const std::string &Field, uint64_t Expected, uint64_t Received) {
  if (Expected == Received) return true;
  return Text(Record, Field, ShownValue(Expected), ShownValue(Received));
}

bool AnswerCheck::Text(const std::string &Record, const std::string &Field, const std::string &Expected,
                       const std::string &Received) {
  if (Expected == Received) return true;
  Differences_++;
  Errors_.push_back(Service_ + " " + Record + " " + Field + ": expected " + Expected + ", received " + Received);
  return false;
}

void AnswerCheck::Problem(const std::string &Record, const std::string &What) {
  Differences_++;
  Errors_.push_back(Service_ + " " + Record + ": " + What);
}

std::string ProcessorListText(const std::vector<size_t> &Processors) {
  std::string Text = Processors.size() == 1 ? "processor " : "processors ";
  for (size_t At = 0; At < Processors.size();) {
    size_t Last = At;
    while (Last + 1 < Processors.size() && Processors[Last + 1] == Processors[Last] + 1) Last++;
    if (At != 0) Text += ", ";
    Text += std::to_string(Processors[At]);
    if (Last != At) Text += "-" + std::to_string(Processors[Last]);
    At = Last + 1;
  }
  return Text;
}

}  // namespace sim
