#pragma once
// The reading of the log files a scan's walk finds that the log time cache
// cannot answer, by several threads while the walk goes on.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "vexlo/common/shared_text.h"
#include "vexlo/db/log_time_reader.h"
#include "vexlo/db/log_tree.h"
#include "vexlo/os/file_system.h"

namespace vexlo {

// ReadJob::failed of a file that could not even be opened, for lack of
// descriptors.
inline constexpr char kNoDescriptor = 2;

// os::FileVersion as a scan holds one per file it must read: 48 bytes
// rather than 72. The nanoseconds the system gives are below a second.
class PackedVersion {
 public:
  explicit PackedVersion(const os::FileVersion& version)
      : device_(version.device),
        inode_(version.inode),
        size_(version.size),
        modified_(version.modified.value_or(0)),
        changed_(version.changed),
        modified_nsec_(static_cast<std::uint32_t>(version.modified_nsec)),
        changed_nsec_(static_cast<std::uint32_t>(version.changed_nsec)),
        has_modified_(version.modified.has_value()) {}

  os::FileVersion unpacked() const {
    os::FileVersion version;
    version.device = device_;
    version.inode = inode_;
    version.size = size_;
    if (has_modified_) version.modified = modified_;
    version.modified_nsec = modified_nsec_;
    version.changed = changed_;
    version.changed_nsec = changed_nsec_;
    return version;
  }

 private:
  std::uint64_t device_;
  std::uint64_t inode_;
  std::uint64_t size_;
  std::int64_t modified_;
  std::int64_t changed_;
  std::uint32_t modified_nsec_;
  std::uint32_t changed_nsec_ : 31;
  std::uint32_t has_modified_ : 1;
};

// A file the walk found that the cache cannot answer: its path (its
// entry's), the version the walk saw, and what reading it learned.
struct ReadJob {
  ReadJob(std::size_t place, SharedText file_path, const os::FileVersion& seen)
      : at(place), path(std::move(file_path)), version(seen) {}
  std::size_t at;  // the place of its entry
  SharedText path;
  PackedVersion version;
  std::int64_t time = 0;
  bool timed = false;
  char failed = 0;  // 1: it could not be read; kNoDescriptor: not even opened
};

// The reading of the files the walk hands over as it finds them: by up to
// `threads` - 1 helpers, started as files to read are found (no more than
// there are files) so that reading goes on while the walk does, and by the
// walking thread once its walk is over. A job keeps its place once added (a
// deque moves no element as it grows), so a reader works on one without
// the lock while the walk adds others. Each reader takes the next job until
// none is left, so that a thread holds one file at a time. An exception in a reader (memory ran out other than
// for one file, see common/out_of_memory.h) stops the reading and is thrown
// again by finish(), as if one thread alone had read. However the scan
// ends, the helpers are stopped before they are joined.
class ParallelReading {
 public:
  ParallelReading(ScanSource& source, std::size_t threads);
  ParallelReading(const ParallelReading&) = delete;
  ParallelReading& operator=(const ParallelReading&) = delete;
  ~ParallelReading() { end(Ending::Stop); }  // the helpers are joined after this

  // Called by the walking thread only.
  void add(std::size_t at, SharedText path, const os::FileVersion& version);

  // After the walk: reads what is left in the calling thread too, waits for
  // the helpers and throws again what a reader threw.
  void finish();

  // Every job, in the order added; once finish() has returned.
  std::deque<ReadJob>& jobs() { return jobs_; }
  void drop() { std::deque<ReadJob>().swap(jobs_); }

 private:
  enum class Ending { NoMoreJobs, Stop };

  // One helper more for each file to read, up to the number wanted or as
  // many as the system gives. Room for all is taken before the first
  // starts: a running helper must not be joined by a failed move while it
  // waits for work.
  void start_helpers();

  void end(Ending ending);

  // The next job not taken, waiting for one while the walk goes on; null
  // once the walk is over and every job taken, or once stopped.
  ReadJob* take();

  void read_jobs();

  void read(ReadJob& job, LogTimeReader& reader);

  ScanSource& source_;
  const std::size_t helpers_;
  const bool while_walking_;
  bool refused_ = false;  // the system gave no more threads
  std::mutex mutex_;
  std::condition_variable more_;
  std::deque<ReadJob> jobs_;
  std::size_t next_ = 0;
  bool closed_ = false;   // no job comes after those added
  bool stopped_ = false;  // no job is handed out any more
  std::exception_ptr failure_;
  std::mutex large_file_turn_;
  std::vector<std::jthread> helpers_running_;  // last, so joined first
};

}  // namespace vexlo
