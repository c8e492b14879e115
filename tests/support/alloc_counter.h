#pragma once

#include <cstddef>

namespace testsupport {

// Counts the operator new calls made on this thread while it lives.
class AllocationCounter {
  public:
    AllocationCounter();
    ~AllocationCounter();
    AllocationCounter(const AllocationCounter&) = delete;
    AllocationCounter& operator=(const AllocationCounter&) = delete;

    std::size_t Count() const;
};

}  // namespace testsupport
