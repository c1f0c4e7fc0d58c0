#include "repair/AacSearchQueue.h"

#include <algorithm>

#include "foundation/FileHandle.h"

namespace qvr {

AacSearchQueue::AacSearchQueue(std::string path, std::vector<uint8_t> config, const std::atomic<bool>& pause,
                               const std::atomic<bool>& stop, unsigned workers, std::vector<MetadataSignature> metadata)
    : path_(std::move(path)), config_(std::move(config)), metadata_(std::move(metadata)), pause_(pause), stop_(stop) {
  workers = std::max(1u, workers);
  for (unsigned i = 0; i < workers; ++i) workers_.emplace_back([this] { work(); });
}

AacSearchQueue::~AacSearchQueue() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  for (auto& worker : workers_) worker.join();
}

unsigned AacSearchQueue::defaultWorkers() {
  const unsigned cores = std::thread::hardware_concurrency();
  return std::clamp(cores, 1u, 4u);
}

size_t AacSearchQueue::submit(uint64_t offset, uint64_t size, DecodedWindow opening) {
  // A decoder that has decoded holds some 40 KB: behind a scan far ahead of the searches only a
  // few wait with theirs (the search then decodes the window itself, to the same end).
  constexpr size_t kMostWaitingOpenings = 16;
  size_t ticket = 0;
  DecodedWindow dropped;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ticket = firstTicket_ + tasks_.size();
    if (ticket - nextToStart_ >= kMostWaitingOpenings) dropped = std::move(opening);
    tasks_.push_back(Task{offset, size, false, false, false, {}, std::move(opening)});
  }
  changed_.notify_all();
  return ticket;
}

bool AacSearchQueue::ready(size_t ticket) {
  std::lock_guard<std::mutex> lock(mutex_);
  return ticket >= firstTicket_ && ticket - firstTicket_ < tasks_.size() && tasks_[ticket - firstTicket_].done;
}

std::optional<std::vector<AacFrame>> AacSearchQueue::take(size_t ticket) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (ticket < firstTicket_ || ticket - firstTicket_ >= tasks_.size()) return std::nullopt;
  changed_.wait(lock, [&] { return tasks_[ticket - firstTicket_].done; });
  Task& task = tasks_[ticket - firstTicket_];
  if (task.taken) return std::nullopt;
  std::optional<std::vector<AacFrame>> frames;
  if (!task.stopped) frames = std::move(task.frames);
  task.frames = {};
  task.taken = true;
  // Forget the taken tasks at the front; later ones keep their place.
  while (!tasks_.empty() && tasks_.front().taken) {
    tasks_.pop_front();
    ++firstTicket_;
  }
  return frames;
}

void AacSearchQueue::work() {
  std::unique_ptr<ReadHandle> handle = ReadHandle::open(path_);
  while (true) {
    Started next;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return closing_ || nextToStart_ < firstTicket_ + tasks_.size(); });
      if (closing_) return;
      next = start();
    }
    run(handle.get(), std::move(next));
  }
}

void AacSearchQueue::helpWhileMoreThan(size_t waiting, uint64_t largest) {
  while (true) {
    Started next;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const size_t queued = firstTicket_ + tasks_.size() - nextToStart_;
      if (closing_ || queued <= waiting || tasks_[nextToStart_ - firstTicket_].size > largest) return;
      next = start();
    }
    if (!helperHandle_) helperHandle_ = ReadHandle::open(path_);
    run(helperHandle_.get(), std::move(next));
  }
}

AacSearchQueue::Started AacSearchQueue::start() {
  const size_t ticket = nextToStart_++;
  Task& task = tasks_[ticket - firstTicket_];
  return Started{ticket, task.offset, task.size, std::move(task.opening)};
}

void AacSearchQueue::run(ReadHandle* handle, Started task) {
  std::optional<std::vector<AacFrame>> frames;
  if (handle) {
    AacFrameSearch search(config_, pause_, stop_, AacFrameSearch::kDefaultSliceLength, AacFrameSearch::Precheck::kOn,
                          metadata_);
    frames = search.search(*handle, task.offset, task.size, std::move(task.opening));
  } else {
    frames = std::vector<AacFrame>{};
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Task& done = tasks_[task.ticket - firstTicket_];
    done.stopped = !frames.has_value();
    if (frames) done.frames = std::move(*frames);
    done.done = true;
  }
  changed_.notify_all();
}

}  // namespace qvr
