#pragma once
// The virtual clock of the in-memory backends, for tests: a clock that moves
// only when the next event is run, and the queue of events due on it. The
// in-memory toolkit and the in-memory network share one, so timer ticks and
// socket events interleave in one deterministic order.

#include <cstdint>
#include <functional>
#include <map>

namespace monvia::sim {

// Events due at the same time run in the order they were posted.
class Clock {
public:
    using EventId = uint64_t;

    int64_t now_ms() const { return now_; }
    // Queues fn to run delay_ms from now (a negative delay counts as 0).
    EventId post(int64_t delay_ms, std::function<void()> fn);
    // Forgets a queued event; harmless for one that has run or was cancelled.
    void cancel(EventId id);
    bool has_pending() const { return !queue_.empty(); }
    // Time of the next event; only meaningful when has_pending().
    int64_t next_due_ms() const;
    // Advances the clock to the next event and runs it; false when none is queued.
    bool run_next();
    // Moves the clock forward to t (never backward) without running anything.
    void advance_to(int64_t t) {
        if (t > now_) now_ = t;
    }

private:
    struct Key {
        int64_t due;
        EventId id;
        friend auto operator<=>(const Key&, const Key&) = default;
    };
    std::map<Key, std::function<void()>> queue_;
    std::map<EventId, int64_t> due_of_;
    EventId next_id_ = 1;
    int64_t now_ = 0;
};

}  // namespace monvia::sim
