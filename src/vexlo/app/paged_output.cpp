#include "vexlo/app/paged_output.h"

#include <cerrno>
#include <utility>

namespace vexlo {

PagedOutput::PagedOutput(std::ostream& out, os::TerminalSize screen, std::optional<os::PagerCommand> pager)
    : out_(out),
      screen_rows_(static_cast<std::size_t>(screen.rows > 0 ? screen.rows : 1)),
      pager_command_(std::move(pager)),
      rows_(screen.columns) {}

PagedOutput::~PagedOutput() { (void)finish(); }

// A text that leaves no row for the prompt after it does not fit. The
// pager is started then, with what was held; one that cannot be started
// (not installed, say) leaves the text to be written as it is.
void PagedOutput::stop_holding() {
  if (pager_command_) {
    if (auto started = os::PagerProcess::start(*pager_command_)) {
      pager_.emplace(std::move(*started));
      to_pager_ = std::make_unique<os::OutputBuffer>(pager_->input(), 64 * 1024);
      mode_ = Mode::Paging;
      to_pager_->sputn(held_.data(), static_cast<std::streamsize>(held_.size()));
      std::string().swap(held_);
      return;
    }
  }
  mode_ = Mode::Direct;
  out_.write(held_.data(), static_cast<std::streamsize>(held_.size()));
  std::string().swap(held_);
}

std::streamsize PagedOutput::xsputn(const char* data, std::streamsize size) {
  switch (mode_) {
    case Mode::Holding:
      held_.append(data, static_cast<std::size_t>(size));
      rows_.add(std::string_view(data, static_cast<std::size_t>(size)));
      if (rows_.rows() >= screen_rows_) stop_holding();
      return size;
    case Mode::Direct:
      out_.write(data, size);
      return out_ ? size : 0;
    case Mode::Paging:
      // Once the pager has quit, the stream goes bad and the rest of the
      // text costs nothing.
      return to_pager_->sputn(data, size);
    case Mode::Finished:
      break;
  }
  return 0;
}

PagedOutput::int_type PagedOutput::overflow(int_type ch) {
  if (traits_type::eq_int_type(ch, traits_type::eof())) return sync() == 0 ? traits_type::not_eof(ch) : ch;
  const char c = traits_type::to_char_type(ch);
  return xsputn(&c, 1) == 1 ? ch : traits_type::eof();
}

// A held text stays held: whether it fits is known only at its end.
int PagedOutput::sync() {
  if (mode_ == Mode::Direct) return out_.flush() ? 0 : -1;
  if (mode_ == Mode::Paging) return to_pager_->pubsync();
  return 0;
}

std::optional<Error> PagedOutput::finish() {
  std::optional<Error> failed;
  if (mode_ == Mode::Holding) {
    out_.write(held_.data(), static_cast<std::streamsize>(held_.size()));
    std::string().swap(held_);
  } else if (mode_ == Mode::Paging) {
    (void)to_pager_->flush();
    if (to_pager_->error() && to_pager_->error()->os_code != EPIPE) failed = to_pager_->error();
    pager_->finish();
  }
  mode_ = Mode::Finished;
  return failed;
}

}  // namespace vexlo
