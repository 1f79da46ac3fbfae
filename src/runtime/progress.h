#pragma once
// Long work (decoding signatures, scanning, filling the tree, exporting everything) tells
// how far it has got and gives the window a chance to handle its events between steps.
// The logic calls this interface; the program state decides what a step does (let a
// window repaint, or nothing at a console) and shows the share a ProgressMeter computes.

#include <cstdint>

namespace kerbilo {

class Progress {
  public:
    virtual ~Progress() = default;

    // A unit of work is done: pending user-interface events may run now.
    virtual void step() = 0;
    // The user asked to stop the work (an open they no longer want): work that can be
    // abandoned checks this after its steps and gives up without a result.
    virtual bool cancelled() const { return false; }
    // A new stage of the work begins; it stands for `weight` of the whole (0 … 1) and runs
    // over `total` positions (bytes of a scan, items of an export).
    virtual void beginStage(double weight, std::int64_t total) = 0;
    // The current stage has reached `position` of its total (a scan: a head at offset
    // position − 1).
    virtual void reached(std::int64_t position) = 0;

    // The current stage's total once the work has found it out (a file's size once it is
    // open); until then its positions move nothing.
    virtual void setStageTotal(std::int64_t) {}
    // The current stage keeps `part` (0 … 1) of its weight for work that follows its
    // positions (filling the tree after a scan); their positions fill the rest.
    virtual void reserveLaterPart(double) {}
    // That work begins, over `total` positions of its own; reached() now counts them.
    virtual void beginLaterPart(std::int64_t) {}

    // A stage with part of it kept for later work, in one call.
    void beginStage(double weight, std::int64_t total, double laterPart) {
        beginStage(weight, total);
        reserveLaterPart(laterPart);
    }
};

// Progress that lets nothing run and shows nothing: work nobody watches.
class NoProgress final : public Progress {
  public:
    void step() override {}
    void beginStage(double, std::int64_t) override {}
    void reached(std::int64_t) override {}
};

// The one place that turns stages and positions into the share of the work done, so a
// progress bar never runs backwards and every loop reports the same way.
class ProgressMeter {
  public:
    // A run starts at share 0; outside a run the share is −1.
    void begin();
    void end();
    void beginStage(double weight, std::int64_t total);
    void reached(std::int64_t position);
    void setStageTotal(std::int64_t total);
    void reserveLaterPart(double part);
    void beginLaterPart(std::int64_t total);

    bool running() const { return share_ >= 0; }
    double share() const { return share_; }

  private:
    double share_ = -1;
    double base_ = 0;    // the share finished before the current stage
    double weight_ = 0;  // the share the current stage stands for
    std::int64_t total_ = 0;
    double later_ = 0;          // the part of the stage kept for later work
    bool inLaterPart_ = false;  // that work has begun
};

}  // namespace kerbilo
