#include "vexlo/db/parallel_reading.h"

#include <algorithm>
#include <utility>

#include "vexlo/common/threads.h"
#include "vexlo/os/process_resources.h"

namespace vexlo {
namespace {

// Below this many descriptors a process may hold, files are read only
// once the walk is over: the walk keeps up to 32 directories open and
// opens more to check links, and each reader holds two, so a reader could
// take the descriptor that would let the walk enter a directory.
constexpr std::uint64_t kDescriptorsToReadWhileWalking = 1024;

}  // namespace

ParallelReading::ParallelReading(ScanSource& source, std::size_t threads)
    : source_(source),
      helpers_(std::max<std::size_t>(threads, 1) - 1),
      while_walking_(os::open_file_limit() >= kDescriptorsToReadWhileWalking) {}

void ParallelReading::add(std::size_t at, SharedText path, const os::FileVersion& version) {
  {
    const std::lock_guard lock(mutex_);
    if (stopped_) return;  // a reader failed: what the scan finds is not used
    jobs_.emplace_back(at, std::move(path), version);
  }
  if (while_walking_) start_helpers();
  more_.notify_one();
}

void ParallelReading::finish() {
  end(Ending::NoMoreJobs);
  start_helpers();
  read_jobs();
  helpers_running_.clear();  // joins them
  if (failure_) std::rethrow_exception(failure_);
}

void ParallelReading::start_helpers() {
  if (helpers_running_.capacity() < helpers_) helpers_running_.reserve(helpers_);
  while (!refused_ && helpers_running_.size() < std::min(helpers_, jobs_.size())) {
    auto started = start_threads(1, [this] { read_jobs(); });
    if (started.empty()) {
      refused_ = true;
    } else {
      helpers_running_.push_back(std::move(started.front()));
    }
  }
}

void ParallelReading::end(Ending ending) {
  {
    const std::lock_guard lock(mutex_);
    closed_ = true;
    stopped_ = stopped_ || ending == Ending::Stop;
  }
  more_.notify_all();
}

ReadJob* ParallelReading::take() {
  std::unique_lock lock(mutex_);
  more_.wait(lock, [&] { return next_ < jobs_.size() || closed_; });
  return !stopped_ && next_ < jobs_.size() ? &jobs_[next_++] : nullptr;
}

void ParallelReading::read_jobs() {
  try {
    LogTimeReader reader;
    while (ReadJob* job = take()) read(*job, reader);
  } catch (...) {
    end(Ending::Stop);
    const std::lock_guard lock(mutex_);
    if (!failure_) failure_ = std::current_exception();
  }
}

void ParallelReading::read(ReadJob& job, LogTimeReader& reader) {
  const os::FileVersion version = job.version.unpacked();
  // A file that grew past the bound since the walk saw it small is
  // refused by the reader rather than read outside the turn.
  const bool large = version.size > kLargeLogSize;
  std::unique_lock turn(large_file_turn_, std::defer_lock);
  if (large) turn.lock();
  const auto time = source_.log_time(job.path.str(), version, reader, large ? os::kMaxReadSize - 1 : kLargeLogSize);
  job.time = time.value_or(0);
  job.timed = time.has_value();
  job.failed = reader.last_open_short_of_descriptors() ? kNoDescriptor : reader.last_read_failed();
}

}  // namespace vexlo
