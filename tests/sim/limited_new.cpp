// A global operator new that refuses the next block over a limit, once, so
// that tests can run out of memory. Alone in its file, so that no caller sees
// it inlined; every form is replaced, so that new and delete always pair.

#include <atomic>
#include <cstdlib>
#include <new>

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
void* operator new(std::size_t size, const std::nothrow_t& /*tag*/) noexcept {
  try {
    return operator new(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* block, const std::nothrow_t& /*tag*/) noexcept {
  std::free(block);
}
void operator delete[](void* block, const std::nothrow_t& /*tag*/) noexcept {
  std::free(block);
}
