#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>

namespace midi {

// First-in-first-out queue of the buffer headers a port has handed to the driver, with its
// own lock held for the whole of each operation. Destroying a header unprepares it.
template <typename Header>
class HeaderQueue {
  public:
    HeaderQueue() = default;
    HeaderQueue(const HeaderQueue&) = delete;
    HeaderQueue& operator=(const HeaderQueue&) = delete;
    ~HeaderQueue() { ReleaseAll(); }

    void Append(std::unique_ptr<Header> header) {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(header));
    }

    // Takes back a header that was just appended, when handing it to the driver failed.
    std::unique_ptr<Header> TakeBack(const Header* header) {
        std::lock_guard lock(mutex_);
        for (auto it = queue_.rbegin(); it != queue_.rend(); ++it) {
            if (it->get() == header) {
                auto taken = std::move(*it);
                queue_.erase(std::next(it).base());
                return taken;
            }
        }
        return nullptr;
    }

    void ReleaseOldest() {
        std::lock_guard lock(mutex_);
        if (!queue_.empty()) {
            queue_.pop_front();
        }
    }

    // The worker's release: a header the driver has not returned is never freed, so a stale
    // signal releases nothing.
    bool ReleaseOldestIfDone() {
        return ReleaseOldestIf([](const Header& h) { return h.IsDone(); });
    }

    // Releases the oldest header when ready(header) holds (or it is null).
    template <typename Ready>
    bool ReleaseOldestIf(Ready ready) {
        std::lock_guard lock(mutex_);
        if (queue_.empty() || (queue_.front() && !ready(*queue_.front()))) {
            return false;
        }
        queue_.pop_front();
        return true;
    }

    void ReleaseAll() {
        std::lock_guard lock(mutex_);
        while (!queue_.empty()) {
            queue_.pop_front();
        }
    }

    bool AnyHeldByDriver() const {
        std::lock_guard lock(mutex_);
        for (const auto& h : queue_) {
            if (h && h->HeldByDriver())
                return true;
        }
        return false;
    }

    std::size_t HeldBytes() const {
        std::lock_guard lock(mutex_);
        std::size_t bytes = 0;
        for (const auto& h : queue_) {
            if (h && h->HeldByDriver())
                bytes += h->Length();
        }
        return bytes;
    }

    std::size_t Size() const {
        std::lock_guard lock(mutex_);
        return queue_.size();
    }

  private:
    mutable std::mutex mutex_;
    std::deque<std::unique_ptr<Header>> queue_;
};

}  // namespace midi
