// Keeps a tool from being changed while a run reads it on a worker thread with the GIL released.
#pragma once

#include <atomic>
#include <memory>

#include <pybind11/pybind11.h>

namespace ptmatch_py {

// Counts the runs in progress on one tool. Training and loading hold the GIL from their check to their
// change, and runs register before they release it, so no run can start in between.
class RunCounter {
 public:
  void requireIdle() const {
    if (*count_ > 0) throw pybind11::value_error("a tool cannot be changed while a run on it is in progress");
  }

  class Guard {
   public:
    explicit Guard(const RunCounter& counter) : count_(counter.count_) { ++*count_; }
    ~Guard() { --*count_; }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

   private:
    std::shared_ptr<std::atomic<int>> count_;
  };

 private:
  // Shared so that a guard outlives a Python object collected while its run finishes.
  std::shared_ptr<std::atomic<int>> count_ = std::make_shared<std::atomic<int>>(0);
};

}  // namespace ptmatch_py
