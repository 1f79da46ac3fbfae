#pragma once
// What a long open or export is doing, as one line on a terminal: kerbilo-cli shows it on
// stderr only when that is a terminal, rewritten a few times a second, and clears it before
// anything else is printed.

#include <chrono>
#include <cstdio>

#include "scan/document.h"

namespace kerbilo::cli {

class ProgressLine final : public OpenEvents {
  public:
    explicit ProgressLine(std::FILE* out = nullptr) : out_(out) {}
    ~ProgressLine() override { finish(); }
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    void kindBegins(const Text& name) override;
    void headFound(std::int64_t at) override;
    void scanned() override;
    // A resource export all has written, by its label.
    void writing(const Text& label);

    // Ends the line so that later output starts on a clean line.
    void finish();

  private:
    // Millions of heads give millions of texts; the terminal sees a few per second.
    bool due();
    void show(const Text& text);

    std::FILE* out_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_{};
};

}  // namespace kerbilo::cli
