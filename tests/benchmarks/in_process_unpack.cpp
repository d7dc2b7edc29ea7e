#include "tests/benchmarks/in_process_unpack.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "base/shared_state.h"
#include "paths/known_directories.h"
#include "payload/attached_data_reader.h"
#include "payload/unpack.h"
#include "payload/unpack_writer.h"
#include "payload/write_queue.h"
#include "tests/benchmarks/plain_baselines.h"
#include "tests/support/payload_builder.h"

namespace osvari::benchmark {
namespace {

std::vector<UnpackTargets*> targets_for(std::size_t count) {
  static std::vector<std::unique_ptr<UnpackTargets>> made;
  while (made.size() < count) made.push_back(new_system_unpack_targets());
  std::vector<UnpackTargets*> targets;
  for (std::size_t i = 0; i < count; ++i) targets.push_back(made[i].get());
  return targets;
}

double seconds(std::int64_t nanoseconds) { return static_cast<double>(nanoseconds) / 1e9; }

}  // namespace

TimedUnpack unpack_in_process(const std::string& attached_data, const std::wstring& directory, std::size_t writers) {
  // Like the launcher's one queue per process: its blocks are allocated once.
  static WriteQueue queue;
  TimedUnpack unpack;
  unpack.writers = writers;
  if (!unpack_directory().assign(directory)) {
    std::fprintf(stderr, "the folder's path is too long\n");
    std::exit(1);
  }
  // Each unpacking starts as in a new process, knowing no directory.
  known_directories().forget();
  const std::vector<UnpackTargets*> targets = targets_for(writers);
  queue.measure_times(&unpack.times);
  const std::uint64_t start = system_time_now();
  open_attached_data(testing::as_resource(attached_data));
  const UnpackFailure failure = unpack_entries(RoleKind::parent, nullptr, queue, targets);
  const std::uint64_t unpacked = system_time_now();
  if (failure.failed()) {
    std::fprintf(stderr, "the in-process unpacking failed at entry %llu\n",
                 static_cast<unsigned long long>(failure.entry));
    std::exit(1);
  }
  confirm_attached_data_end();
  close_attached_data();
  const std::uint64_t end = system_time_now();
  queue.measure_times(nullptr);
  unpack.seconds = seconds_between(start, end);
  unpack.checksum_seconds = seconds_between(unpacked, end);
  return unpack;
}

void print_where_the_time_goes(const TimedUnpack& unpack) {
  const UnpackTimes& times = unpack.times;
  std::printf("  where the launcher's unpack time goes (its code in this process, %zu writers, the median run):\n",
              unpack.writers);
  std::printf("    decoder %.3f s: waiting for an empty block %.3f s, decoding and gathering %.3f s; then\n"
              "            waiting for the writers %.3f s, checksum %.3f s\n",
              seconds(times.decoder_walk), seconds(times.decoder_waiting_for_block),
              seconds(times.decoder_walk - times.decoder_waiting_for_block), seconds(times.finishing),
              unpack.checksum_seconds);
  for (std::size_t w = 0; w < unpack.writers && w < times.writers.size(); ++w) {
    const WriterTimes& writer = times.writers[w];
    const std::int64_t known = writer.waiting_for_block + writer.directories + writer.creating + writer.writing +
                               writer.closing;
    std::printf("    writer %zu %.3f s: waiting for a block %.3f s, directories %.3f s (of it waiting for the\n"
                "            turn %.3f s), creating %.3f s, writing %.3f s, closing %.3f s, other %.3f s\n",
                w + 1, seconds(writer.alive), seconds(writer.waiting_for_block), seconds(writer.directories),
                seconds(writer.directory_turn), seconds(writer.creating), seconds(writer.writing),
                seconds(writer.closing), seconds(std::max<std::int64_t>(0, writer.alive - known)));
  }
}

const TimedUnpack& median_run(const std::vector<TimedUnpack>& runs) {
  std::vector<const TimedUnpack*> sorted;
  for (const TimedUnpack& run : runs) sorted.push_back(&run);
  std::sort(sorted.begin(), sorted.end(), [](const auto* a, const auto* b) { return a->seconds < b->seconds; });
  return *sorted[sorted.size() / 2];
}

}  // namespace osvari::benchmark
