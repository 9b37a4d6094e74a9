#pragma once
// An immutable text whose copies share one block: a pointer in the holder,
// the length, a count of holders and the bytes in one allocation. A tree
// of a million logs holds each log's path in the database's entries and
// again in a scan's; shared, the path costs its bytes once, and an entry
// holding it is a third of one holding a std::string.

#include <atomic>
#include <compare>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

namespace vexlo {

class SharedText {
 public:
  SharedText() noexcept = default;
  // A text of more than 4 GiB less one byte cannot be held: std::bad_alloc,
  // as when memory runs out.
  SharedText(std::string_view text);
  SharedText(const std::string& text) : SharedText(std::string_view(text)) {}
  SharedText(const char* text) : SharedText(std::string_view(text)) {}
  SharedText(const SharedText& other) noexcept : block_(other.block_) { hold(); }
  SharedText(SharedText&& other) noexcept : block_(other.block_) { other.block_ = nullptr; }
  SharedText& operator=(const SharedText& other) noexcept;
  SharedText& operator=(SharedText&& other) noexcept;
  ~SharedText() { release(); }

  std::string_view view() const noexcept { return {data(), size()}; }
  operator std::string_view() const noexcept { return view(); }
  std::string str() const { return std::string(view()); }
  // Always ends in a NUL byte, not counted in size().
  const char* c_str() const noexcept { return data(); }
  const char* data() const noexcept { return block_ == nullptr ? "" : reinterpret_cast<const char*>(block_ + 1); }
  std::size_t size() const noexcept { return block_ == nullptr ? 0 : block_->size; }
  bool empty() const noexcept { return size() == 0; }
  bool starts_with(std::string_view prefix) const noexcept { return view().starts_with(prefix); }
  bool ends_with(std::string_view suffix) const noexcept { return view().ends_with(suffix); }
  std::size_t find(std::string_view part, std::size_t from = 0) const noexcept { return view().find(part, from); }
  std::string substr(std::size_t from, std::size_t count = std::string_view::npos) const {
    return std::string(view().substr(from, count));
  }
  // Whether both hold the one block: the same text without comparing it.
  bool shares(const SharedText& other) const noexcept { return block_ != nullptr && block_ == other.block_; }

  friend bool operator==(const SharedText& a, const SharedText& b) noexcept {
    return a.block_ == b.block_ || a.view() == b.view();
  }
  friend bool operator==(const SharedText& a, std::string_view b) noexcept { return a.view() == b; }
  friend bool operator==(const SharedText& a, const std::string& b) noexcept { return a.view() == b; }
  friend bool operator==(const SharedText& a, const char* b) noexcept { return a.view() == b; }
  friend std::strong_ordering operator<=>(const SharedText& a, const SharedText& b) noexcept {
    return a.view() <=> b.view();
  }
  friend std::strong_ordering operator<=>(const SharedText& a, std::string_view b) noexcept {
    return a.view() <=> b;
  }
  friend std::ostream& operator<<(std::ostream& out, const SharedText& text) { return out << text.view(); }

 private:
  struct Block {
    std::atomic<std::uint32_t> holders;
    std::uint32_t size;
  };
  void hold() const noexcept;
  void release() noexcept;

  Block* block_ = nullptr;
};

}  // namespace vexlo

template <>
struct std::hash<vexlo::SharedText> {
  std::size_t operator()(const vexlo::SharedText& text) const noexcept {
    return std::hash<std::string_view>{}(text.view());
  }
};
