// Compares what a service of the driver answered with what the simulated machine says it must
// answer, field by field. The expected side is always computed by the simulator's own code from
// the machine description; each difference becomes one sentence naming the service, the record,
// the field, the expected and the received value, which the reports print as an `ERROR:` line.
#ifndef SIM_ORACLE_ANSWER_CHECK_H_
#define SIM_ORACLE_ANSWER_CHECK_H_

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class AnswerCheck {
 public:
  // Service: "GetPstateInfo", "AddProcessorAffinityEntries", ... Errors receives the sentences.
  AnswerCheck(std::string Service, std::vector<std::string> &Errors) : Service_(std::move(Service)), Errors_(Errors) {}

  // Record: which record ("socket 0 P-state 2", "cache entry 5"); Field: its field ("CoreFreq").
  // Returns whether they agree.
  bool Field(const std::string &Record, const std::string &Field, uint64_t Expected, uint64_t Received);
  bool Text(const std::string &Record, const std::string &Field, const std::string &Expected,
            const std::string &Received);
  // A difference that is not one field: a missing or extra record, a count.
  void Problem(const std::string &Record, const std::string &What);

  size_t Differences() const { return Differences_; }

 private:
  std::string Service_;
  std::vector<std::string> &Errors_;
  size_t Differences_ = 0;
};

// How values appear in the sentences: decimal below 65536, hexadecimal above.
std::string ShownValue(uint64_t Value);

// Processors by index as a sentence names them: "processor 3", "processors 0-127", "processors 1, 4-6".
std::string ProcessorListText(const std::vector<size_t> &Processors);

}  // namespace sim

#endif  // SIM_ORACLE_ANSWER_CHECK_H_
