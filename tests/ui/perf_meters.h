#pragma once
// What the hand-run window measurements share: how long the event loop went without
// answering, and the process's own memory.

#include <QtCore/QElapsedTimer>
#include <QtCore/QTimer>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>

namespace kerbilo::testing {

// A timer of `intervalMs` runs while started; the longest time between two of its ticks is
// how long the window did not answer. `onTick` runs at each tick (to sample something).
class GapMeter {
  public:
    explicit GapMeter(int intervalMs = 10, std::function<void()> onTick = {})
        : onTick_(std::move(onTick)) {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setInterval(intervalMs);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    }
    void start() {
        longest_ = 0;
        sinceTick_.start();
        timer_.start();
    }
    // The time since the last tick counts too: work that blocked to the end is a gap.
    double stop() {
        tick();
        timer_.stop();
        return longest_;
    }
    double longest() const { return longest_; }

  private:
    void tick() {
        longest_ = std::max(longest_, static_cast<double>(sinceTick_.nsecsElapsed()) / 1e6);
        sinceTick_.start();
        if (onTick_) onTick_();
    }

    std::function<void()> onTick_;
    QTimer timer_;
    QElapsedTimer sinceTick_;
    double longest_ = 0;
};

// A size field of /proc/self/status ("VmRSS:", "VmHWM:") in MiB.
inline double residentMib(const char* field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field, 0) == 0) return std::atof(line.c_str() + std::strlen(field)) / 1024;
    return 0;
}

}  // namespace kerbilo::testing
