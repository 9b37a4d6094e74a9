#include "vexlo/common/shared_text.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <utility>

namespace vexlo {

SharedText::SharedText(std::string_view text) {
  if (text.empty()) return;
  if (text.size() >= std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
  void* memory = ::operator new(sizeof(Block) + text.size() + 1);
  block_ = ::new (memory) Block{{1}, static_cast<std::uint32_t>(text.size())};
  char* bytes = reinterpret_cast<char*>(block_ + 1);
  std::memcpy(bytes, text.data(), text.size());
  bytes[text.size()] = '\0';
}

SharedText& SharedText::operator=(const SharedText& other) noexcept {
  Block* const block = other.block_;  // before releasing: `other` may be this
  other.hold();
  release();
  block_ = block;
  return *this;
}

SharedText& SharedText::operator=(SharedText&& other) noexcept {
  if (this != &other) {
    release();
    block_ = std::exchange(other.block_, nullptr);
  }
  return *this;
}

void SharedText::hold() const noexcept {
  // Copies made on another thread only need the count to be exact; the
  // bytes were written before the block was handed over.
  if (block_ != nullptr) block_->holders.fetch_add(1, std::memory_order_relaxed);
}

void SharedText::release() noexcept {
  if (block_ == nullptr) return;
  if (block_->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    block_->~Block();
    ::operator delete(block_);
  }
  block_ = nullptr;
}

}  // namespace vexlo
