// Large blocks of memory: taken from the scalable allocator, which keeps each thread's small blocks
// apart and holds freed large ones for reuse, so a result buffer made again and again (a bulk call
// in a loop) is not faulted in afresh each time; blocks of a few MiB and more ask for large pages
// before their first touch.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <utility>

namespace gy {

// An uninitialised block of at least `bytes` bytes, 64-byte aligned (never null, also for 0 bytes);
// throws std::bad_alloc when it cannot be had.
void* allocate_bytes(std::size_t bytes);
// Gives back a block of allocate_bytes (null does nothing); any thread may give it back.
void release_bytes(void* block) noexcept;

// Whether allocate_bytes lays a block of `bytes` out in whole large pages.
bool in_large_pages(std::size_t bytes);

// Whether `bytes` more of address space would stay within the process's limit on it, where one is
// set: work that may take its memory a faster or a thriftier way takes the thriftier one near the
// limit, so that a limit it fitted under before is not passed.
bool address_space_room(std::size_t bytes);

// Asks the system to back the untouched block [data, data + bytes) with large pages where it can,
// when the block is large: filling a fresh block then costs a few page faults instead of one per
// 4 KiB. The contents are unchanged; a refusal is ignored.
void prefer_large_pages(void* data, std::size_t bytes);

// Backs ranges of memory with pages ahead of their first write, on a worker of the pool and in the
// order asked: where faulting fresh memory in is slow (a virtual machine whose host backs its memory
// only when first touched), the thread that writes it next then finds it ready. Contents are never
// changed. A range must stay allocated until stop() has returned or the warmer is gone; both wait
// only for the piece in hand, never for the rest of the queue. A range the system cannot back ahead
// is left to be faulted in when written.
class PageWarmer {
 public:
  PageWarmer() noexcept;
  PageWarmer(PageWarmer&&) noexcept;
  // Stops this warmer first.
  PageWarmer& operator=(PageWarmer&&) noexcept;
  ~PageWarmer();

  void warm(void* data, std::size_t bytes) noexcept;
  // Whether a range is being backed or waits to be.
  bool busy() const noexcept;
  // Drops the ranges not yet backed; returns once no range of this warmer is being backed.
  void stop() noexcept;

  struct State;

 private:
  std::shared_ptr<State> state_;
};

// An owned block of `size` T (T trivial), 64-byte aligned, uninitialised until written.
template <class T>
class Block {
 public:
  Block() = default;
  explicit Block(std::size_t size) : data_(static_cast<T*>(allocate_bytes(size * sizeof(T)))), size_(size) {}
  Block(Block&& o) noexcept : data_(std::exchange(o.data_, nullptr)), size_(std::exchange(o.size_, 0)) {}
  Block& operator=(Block&& o) noexcept {
    std::swap(data_, o.data_);
    std::swap(size_, o.size_);
    return *this;
  }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  ~Block() { release_bytes(data_); }

  T* data() { return data_; }
  const T* data() const { return data_; }
  std::size_t size() const { return size_; }
  std::span<T> span() { return {data_, size_}; }
  std::span<const T> span() const { return {data_, size_}; }

 private:
  T* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace gy
