#pragma once
// Buffered output to a file descriptor, for standard output and standard
// error. Output is written in large blocks, and the first write error is
// kept so that the program can report it once at the end instead of failing
// on every line.

#include <cstddef>
#include <optional>
#include <streambuf>
#include <string>
#include <string_view>

#include "vexlo/common/error.h"
#include "vexlo/os/file_descriptor.h"

namespace vexlo::os {

class OutputBuffer : public std::streambuf {
 public:
  OutputBuffer(int fd, std::size_t capacity);
  OutputBuffer(const OutputBuffer&) = delete;
  OutputBuffer& operator=(const OutputBuffer&) = delete;
  // Writes what is still pending; an error at this point is lost, so callers
  // flush explicitly first.
  ~OutputBuffer() override;

  // Makes `earlier` write its pending bytes before this buffer takes new
  // ones. Standard output and standard error often end up on one terminal
  // or file; each naming the other keeps the messages in program order while
  // both stay buffered.
  void flush_before_writing(OutputBuffer& earlier) { earlier_ = &earlier; }

  // Writes the pending bytes; returns the first write error of this buffer.
  Status flush();

  // The first failed write. From then on, output is dropped and the stream
  // on top of this buffer goes bad, so later output costs nothing.
  const std::optional<Error>& error() const { return error_; }

 protected:
  int_type overflow(int_type ch) override;
  std::streamsize xsputn(const char* data, std::streamsize size) override;
  int sync() override;

 private:
  void before_output();
  void write_now(std::string_view data);

  int fd_;
  std::size_t capacity_;
  std::string pending_;
  OutputBuffer* earlier_ = nullptr;
  std::optional<Error> error_;
};

}  // namespace vexlo::os
