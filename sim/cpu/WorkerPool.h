// A few persistent host threads that run batches of jobs. A machine may have hundreds of logical
// processors, so its AP procedures share these threads instead of getting one thread each; up to
// Size() procedures run at the same moment.
#ifndef SIM_CPU_WORKER_POOL_H_
#define SIM_CPU_WORKER_POOL_H_

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace sim {

class WorkerPool {
 public:
  using Job = std::function<void()>;

  // Throws std::invalid_argument for zero threads.
  explicit WorkerPool(size_t Threads);
  ~WorkerPool();
  WorkerPool(const WorkerPool &) = delete;
  WorkerPool &operator=(const WorkerPool &) = delete;

  size_t Size() const { return Threads_.size(); }

  // Runs every job on the workers, in order of the list as workers become free, and returns once
  // all have finished. If jobs threw, the first exception is thrown here after the others ended.
  void Run(std::vector<Job> Jobs);

  // A pool of that many threads: one given back earlier while keeping is on, else a new one.
  static std::unique_ptr<WorkerPool> Take(size_t Threads);
  // Ends with a pool no longer used (no batch may be running): kept for Take while keeping is on
  // (up to a few pools), else its threads are stopped.
  static void GiveBack(std::unique_ptr<WorkerPool> Pool);
  // Turns keeping on for processes that boot machine after machine, where starting and stopping
  // every machine's threads was a tenth of a small machine's boot; off (the default) stops the
  // kept threads at once. A child made by fork finds nothing kept.
  static void KeepForReuse(bool Keep);

 private:
  struct Batch {
    std::vector<Job> Jobs;
    size_t Unfinished = 0;
    std::exception_ptr Failure;
  };
  struct Task {
    Batch *Owner;
    size_t Index;
  };

  void Work();

  std::mutex Lock_;
  std::condition_variable WorkReady_;
  std::condition_variable BatchDone_;
  std::deque<Task> Queue_;
  bool Stopping_ = false;
  std::vector<std::thread> Threads_;
};

}  // namespace sim

#endif  // SIM_CPU_WORKER_POOL_H_
