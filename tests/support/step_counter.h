#pragma once
// A progress that only counts the steps it is given, for tests of how often long work lets
// events run.

#include "runtime/progress.h"

namespace kerbilo::testing {

struct StepCounter final : Progress {
    int steps = 0;
    void step() override { ++steps; }
    void beginStage(double, std::int64_t) override {}
    void reached(std::int64_t) override {}
};

}  // namespace kerbilo::testing
