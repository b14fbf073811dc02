// Counts the allocations that throw on failure (operator new without std::nothrow) the creating
// thread makes while the object lives: on the hotkey, mouse and channel-command paths a throw
// would leave the work half done, so they must make none. On the test thread.
#pragma once

namespace kvx::test {

class AllocationCount {
 public:
  AllocationCount();
  ~AllocationCount();
  AllocationCount(const AllocationCount&) = delete;
  AllocationCount& operator=(const AllocationCount&) = delete;

  int Count() const;
};

}  // namespace kvx::test
