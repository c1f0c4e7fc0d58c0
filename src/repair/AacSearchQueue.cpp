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

size_t AacSearchQueue::submit(uint64_t offset, uint64_t size) {
  size_t ticket = 0;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ticket = firstTicket_ + tasks_.size();
    tasks_.push_back(Task{offset, size, false, false, false, {}});
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
    size_t ticket = 0;
    uint64_t offset = 0;
    uint64_t size = 0;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [&] { return closing_ || nextToStart_ < firstTicket_ + tasks_.size(); });
      if (closing_) return;
      ticket = nextToStart_++;
      offset = tasks_[ticket - firstTicket_].offset;
      size = tasks_[ticket - firstTicket_].size;
    }
    std::optional<std::vector<AacFrame>> frames;
    if (handle) {
      AacFrameSearch search(config_, pause_, stop_, AacFrameSearch::kDefaultSliceLength, AacFrameSearch::Precheck::kOn,
                            metadata_);
      frames = search.search(*handle, offset, size);
    } else {
      frames = std::vector<AacFrame>{};
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      Task& task = tasks_[ticket - firstTicket_];
      task.stopped = !frames.has_value();
      if (frames) task.frames = std::move(*frames);
      task.done = true;
    }
    changed_.notify_all();
  }
}

}  // namespace qvr
