// A global operator new that refuses the next block larger than a limit, once:
// how the simulator's tests run out of memory on purpose. It lives alone in
// its file so that no caller sees it inlined.

#include <atomic>
#include <cstdlib>
#include <new>

#include "limited_new.hpp"

namespace {
std::atomic<std::size_t> largest_allowed{0};  // 0: no limit
}  // namespace

namespace tarnex::testing {
void refuse_next_allocation_over(std::size_t largest) {
  largest_allowed = largest;
}
}  // namespace tarnex::testing

void* operator new(std::size_t size) {
  std::size_t limit = largest_allowed.load();
  if (limit != 0 && size > limit && largest_allowed.compare_exchange_strong(limit, 0)) throw std::bad_alloc();
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete[](void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t /*size*/) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::size_t /*size*/) noexcept {
  std::free(block);
}
