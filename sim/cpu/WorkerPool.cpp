#include "sim/cpu/WorkerPool.h"

#include <stdexcept>
#include <utility>

#include "sim/cpu/KeptForReuse.h"

namespace sim {

std::unique_ptr<WorkerPool> WorkerPool::Take(size_t Threads) {
  std::unique_ptr<WorkerPool> Kept =
      KeptForReuse<WorkerPool>::List().Take([Threads](const WorkerPool &Pool) { return Pool.Size() == Threads; });
  return Kept ? std::move(Kept) : std::make_unique<WorkerPool>(Threads);
}

void WorkerPool::GiveBack(std::unique_ptr<WorkerPool> Pool) {
  if (Pool) KeptForReuse<WorkerPool>::List().GiveBack(std::move(Pool));
}

void WorkerPool::KeepForReuse(bool Keep) { KeptForReuse<WorkerPool>::List().Keep(Keep); }

WorkerPool::WorkerPool(size_t Threads) {
  if (Threads == 0) {
    throw std::invalid_argument("a worker pool needs at least one thread");
  }
  Threads_.reserve(Threads);
  for (size_t Index = 0; Index < Threads; ++Index) {
    Threads_.emplace_back([this] { Work(); });
  }
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard Guard(Lock_);
    Stopping_ = true;
  }
  WorkReady_.notify_all();
  for (std::thread &Each : Threads_) {
    Each.join();
  }
}

void WorkerPool::Run(std::vector<Job> Jobs) {
  if (Jobs.empty()) {
    return;
  }
  Batch Work;
  Work.Jobs = std::move(Jobs);
  Work.Unfinished = Work.Jobs.size();
  std::unique_lock Guard(Lock_);
  for (size_t Index = 0; Index < Work.Jobs.size(); ++Index) {
    Queue_.push_back(Task{&Work, Index});
  }
  WorkReady_.notify_all();
  BatchDone_.wait(Guard, [&] { return Work.Unfinished == 0; });
  if (Work.Failure) {
    std::rethrow_exception(Work.Failure);
  }
}

void WorkerPool::Work() {
  std::unique_lock Guard(Lock_);
  for (;;) {
    WorkReady_.wait(Guard, [&] { return Stopping_ || !Queue_.empty(); });
    if (Queue_.empty()) {
      return;
    }
    const Task Next = Queue_.front();
    Queue_.pop_front();
    Guard.unlock();
    std::exception_ptr Failure;
    try {
      Next.Owner->Jobs[Next.Index]();
    } catch (...) {
      Failure = std::current_exception();
    }
    Guard.lock();
    if (Failure && !Next.Owner->Failure) {
      Next.Owner->Failure = Failure;
    }
    if (--Next.Owner->Unfinished == 0) {
      BatchDone_.notify_all();
    }
  }
}

}  // namespace sim
