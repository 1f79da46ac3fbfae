#include "runtime/progress.h"

#include <algorithm>

namespace kerbilo {

void ProgressMeter::begin() {
    share_ = 0;
    base_ = 0;
    weight_ = 0;
    total_ = 0;
}

void ProgressMeter::end() {
    share_ = -1;
}

void ProgressMeter::beginStage(double weight, std::int64_t total) {
    if (!running()) return;
    base_ = std::min(1.0, base_ + weight_);
    weight_ = std::clamp(weight, 0.0, 1.0 - base_);
    total_ = total;
    later_ = 0;
    inLaterPart_ = false;
    share_ = std::max(share_, base_);
}

void ProgressMeter::setStageTotal(std::int64_t total) {
    total_ = total;
}

void ProgressMeter::reserveLaterPart(double part) {
    if (!inLaterPart_) later_ = std::clamp(part, 0.0, 1.0);
}

void ProgressMeter::beginLaterPart(std::int64_t total) {
    if (!running()) return;
    // Whatever the stage's own positions left unreached is over now.
    share_ = std::max(share_, base_ + weight_ * (1 - later_));
    inLaterPart_ = true;
    total_ = total;
}

void ProgressMeter::reached(std::int64_t position) {
    if (!running() || total_ <= 0) return;
    const double done = static_cast<double>(std::clamp<std::int64_t>(position, 0, total_)) /
                        static_cast<double>(total_);
    const double from = inLaterPart_ ? base_ + weight_ * (1 - later_) : base_;
    const double span = weight_ * (inLaterPart_ ? later_ : 1 - later_);
    // Positions may come back to an earlier place (nested resources); the bar does not.
    share_ = std::max(share_, from + span * done);
}

}  // namespace kerbilo
