#include "sim/clock.h"

#include <algorithm>

namespace monvia::sim {

Clock::EventId Clock::post(int64_t delay_ms, std::function<void()> fn) {
    const EventId id = next_id_++;
    const int64_t due = now_ + std::max<int64_t>(delay_ms, 0);
    queue_.emplace(Key{due, id}, std::move(fn));
    due_of_.emplace(id, due);
    return id;
}

void Clock::cancel(EventId id) {
    auto it = due_of_.find(id);
    if (it == due_of_.end()) return;
    queue_.erase(Key{it->second, id});
    due_of_.erase(it);
}

int64_t Clock::next_due_ms() const { return queue_.empty() ? now_ : queue_.begin()->first.due; }

bool Clock::run_next() {
    if (queue_.empty()) return false;
    auto node = queue_.extract(queue_.begin());
    due_of_.erase(node.key().id);
    now_ = std::max(now_, node.key().due);
    node.mapped()();
    return true;
}

}  // namespace monvia::sim
