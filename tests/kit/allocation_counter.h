// Counts the heap allocations a piece of work makes: through operator new and, where the C library
// lets a program replace it, malloc itself. A test binary that links lumisere_test_allocation_counter
// has the allocation functions replaced for the whole program, and runs the counter's own check.
#pragma once

namespace lumisere::test {

void startCountingAllocations();
long stopCountingAllocations();  // the count since the start

// The allocations made while `work` runs.
template <typename Work>
long allocationsDuring(Work work) {
    startCountingAllocations();
    work();
    return stopCountingAllocations();
}

}  // namespace lumisere::test
