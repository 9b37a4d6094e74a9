#include "vexlo/os/output_buffer.h"

#include <unistd.h>

#include "vexlo/os/file_system.h"

namespace vexlo::os {

// There is no put area: every character goes through overflow or xsputn,
// so that the other buffer is always flushed first.
OutputBuffer::OutputBuffer(int fd, std::size_t capacity) : fd_(fd), capacity_(capacity) {
  pending_.reserve(capacity_);
}

OutputBuffer::~OutputBuffer() { (void)flush(); }

Status OutputBuffer::flush() {
  if (!pending_.empty()) {
    write_now(pending_);
    pending_.clear();
  }
  if (error_) return std::unexpected(*error_);
  return {};
}

void OutputBuffer::before_output() {
  if (earlier_ != nullptr && !earlier_->pending_.empty()) (void)earlier_->flush();
}

void OutputBuffer::write_now(std::string_view data) {
  if (error_) return;
  if (auto written = write_all(fd_, data); !written) error_ = written.error();
}

OutputBuffer::int_type OutputBuffer::overflow(int_type ch) {
  if (traits_type::eq_int_type(ch, traits_type::eof())) return sync() == 0 ? traits_type::not_eof(ch) : ch;
  const char c = traits_type::to_char_type(ch);
  return xsputn(&c, 1) == 1 ? ch : traits_type::eof();
}

std::streamsize OutputBuffer::xsputn(const char* data, std::streamsize size) {
  if (error_) return 0;
  before_output();
  const auto count = static_cast<std::size_t>(size);
  if (pending_.size() + count > capacity_) {
    (void)flush();
    if (count >= capacity_) {
      write_now(std::string_view(data, count));  // large blocks skip the copy
      return error_ ? 0 : size;
    }
  }
  if (error_) return 0;
  pending_.append(data, count);
  return size;
}

int OutputBuffer::sync() { return flush() ? 0 : -1; }

}  // namespace vexlo::os
