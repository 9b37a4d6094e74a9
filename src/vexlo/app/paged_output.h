#pragma once
// The output of `show` on a terminal: held until it is known to be taller
// than the screen, then sent through a pager; a text that fits is written
// as it is.

#include <cstddef>
#include <memory>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>

#include "vexlo/common/error.h"
#include "vexlo/common/screen_rows.h"
#include "vexlo/os/output_buffer.h"
#include "vexlo/os/pager.h"

namespace vexlo {

class PagedOutput : public std::streambuf {
 public:
  // `pager` none: the text is never paged, but still held until it is
  // known not to fit, so that the two cases cost the same.
  PagedOutput(std::ostream& out, os::TerminalSize screen, std::optional<os::PagerCommand> pager);
  PagedOutput(const PagedOutput&) = delete;
  PagedOutput& operator=(const PagedOutput&) = delete;
  ~PagedOutput() override;

  // Ends the output: a held text goes to `out`, a pager gets the end of its
  // input and is waited for. Returns the first failed write to the pager;
  // a pager that quit before the end of the text is no failure.
  std::optional<Error> finish();

 protected:
  int_type overflow(int_type ch) override;
  std::streamsize xsputn(const char* data, std::streamsize size) override;
  int sync() override;

 private:
  enum class Mode { Holding, Direct, Paging, Finished };
  void stop_holding();

  std::ostream& out_;
  std::size_t screen_rows_;
  std::optional<os::PagerCommand> pager_command_;
  Mode mode_ = Mode::Holding;
  std::string held_;
  ScreenRows rows_;
  std::optional<os::PagerProcess> pager_;
  std::unique_ptr<os::OutputBuffer> to_pager_;
};

}  // namespace vexlo
