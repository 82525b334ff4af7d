#pragma once

#include <cstddef>

namespace tarnex::testing {

// The next request to operator new for more than `largest` bytes fails with
// std::bad_alloc; later ones succeed again.
void refuse_next_allocation_over(std::size_t largest);

}  // namespace tarnex::testing
