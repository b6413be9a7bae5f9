// Allocation failure on demand for the storage tests: this program's operator new can be told
// to fail one allocation of the calling thread, so that a step that allocates can be made to
// fail at any point of its work.
#pragma once

#include <cstddef>

namespace failalloc {

// From now on, the calling thread's allocation number `index` (0: the next one) throws
// std::bad_alloc (and new (std::nothrow) answers null); later ones succeed again.
void FailAllocation(size_t index);
// Ends the arrangement; true when the chosen allocation was reached (and failed).
bool Disarm();
// Allocations of the armed thread since the last FailAllocation (FailAllocation(SIZE_MAX)
// only counts).
size_t Counted();

}  // namespace failalloc
