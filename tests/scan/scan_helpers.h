#pragma once
// Builders for files that hold resources at known places, and a document over in-memory
// files and the scripted UI for the operations of the scanning and editing libraries.

#include <string>
#include <vector>

#include "app/catalogue_view.h"
#include "fake_ui.h"
#include "memory_files.h"
#include "scan/document.h"

namespace kerbilo::testing {

ByteBuffer bytes(std::initializer_list<std::uint8_t> b);
ByteBuffer join(std::initializer_list<ByteBuffer> parts);
ByteBuffer filler(std::size_t n, std::uint8_t value = 0x11);
// A PNG-like resource of the default kind: head, body, IEND tail.
ByteBuffer png(const ByteBuffer& body);
ByteBuffer pngHead();
ByteBuffer pngTail();

// resource.config text (UTF-8 here, stored as GBK) from "key=value" lines.
ByteBuffer kindsFile(std::initializer_list<std::string> lines);

// Kind "A" of slotKinds(): head AA 01, tail 02 BB, head fill AA, suffix bin. A resource of
// it with `body` bytes of `fill`, and the guard bytes editing tests put around every slot
// to see that nothing outside the target moves.
ByteBuffer slotKinds();
ByteBuffer res(std::size_t body, std::uint8_t fill);
ByteBuffer guard();

Text gbk(const char* utf8);

struct Listed {
    int number;
    Text kind;
    Text label;
    std::int64_t offset;
    ByteBuffer data;
    friend bool operator==(const Listed&, const Listed&) = default;
};

// The tree as the user sees it: every resource node with its group's kind.
std::vector<Listed> listed(UiServices& ui, const ResourceCatalogue& catalogue);
// The tree item of resource n, −1 when there is none.
int itemOfResource(UiServices& ui, int n);

// Progress as the window sees it: a step lets the scripted UI's events run, and the share
// is kept as the progress bar would show it.
class TestProgress final : public Progress {
  public:
    explicit TestProgress(UiServices& ui) : ui_(ui) { meter.begin(); }
    void step() override { ui_.processPendingEvents(); }
    void beginStage(double weight, std::int64_t total) override { meter.beginStage(weight, total); }
    void reached(std::int64_t position) override { meter.reached(position); }
    void setStageTotal(std::int64_t total) override { meter.setStageTotal(total); }
    void reserveLaterPart(double part) override { meter.reserveLaterPart(part); }
    void beginLaterPart(std::int64_t total) override { meter.beginLaterPart(total); }
    using Progress::beginStage;
    ProgressMeter meter;

  private:
    UiServices& ui_;
};

// One document and the services the operations reach the world through.
struct DocWorld {
    MemoryFileServices files;
    FakeUi ui;
    TestProgress progress{ui};
    Document doc;
    Services services{files, progress};
    // The open as the window shows it, into the scripted UI.
    WindowOpenView view{ui, progress};

    DocWorld();  // with the default kinds file
    void setKinds(ByteBuffer content) { files.files["/prog/resource.config"] = std::move(content); }
    // Puts data at path and opens it.
    bool open(const ByteBuffer& data, const Text& path = "/data/app.exe");
    // The same, each kind in a pass of its own: what the one sweep must agree with.
    bool openKindByKind(const ByteBuffer& data, const Text& path = "/data/app.exe");
    std::vector<Listed> listed() { return testing::listed(ui, doc.catalogue); }
    int itemOfResource(int n) { return testing::itemOfResource(ui, n); }
};

}  // namespace kerbilo::testing
