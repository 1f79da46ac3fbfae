#include "app/resource_table.h"

#include <algorithm>
#include <cstdio>

#include "app/reason_texts.h"
#include "app/texts.h"
#include "runtime/byte_ops.h"

namespace kerbilo {

namespace {

Text hex(std::int64_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "%08llX", static_cast<unsigned long long>(v));
    return text;
}

const Text& shortVerdict(Verdict v) {
    switch (v) {
        case Verdict::Complete:
            return app_text::complete();
        case Verdict::CutShort:
            return app_text::verdictCutShort();
        case Verdict::TrailingBytes:
            return app_text::verdictTrailing();
        case Verdict::Damaged:
            return app_text::damaged();
        case Verdict::Unchecked:
            return app_text::verdictUnchecked();
        case Verdict::NotAPicture:
            break;
    }
    return app_text::notAPicture();
}

bool hasSize(const Inspection& what) {
    return what.format != PictureFormat::None && what.width > 0 && what.height > 0;
}

}  // namespace

const Text& tableColumnTitle(TableColumn column) {
    switch (column) {
        case TableColumn::Number:
            return app_text::columnNumber();
        case TableColumn::Kind:
            return app_text::columnKind();
        case TableColumn::Offset:
            return app_text::columnOffset();
        case TableColumn::Size:
            return app_text::columnSize();
        case TableColumn::Format:
            return app_text::columnFormat();
        case TableColumn::Dimensions:
            return app_text::columnDimensions();
        case TableColumn::Frames:
            return app_text::columnFrames();
        case TableColumn::Verdict:
            return app_text::columnVerdict();
        case TableColumn::Source:
            break;
    }
    return app_text::columnSource();
}

bool needsInspection(TableColumn column) {
    return column == TableColumn::Format || column == TableColumn::Dimensions ||
           column == TableColumn::Frames || column == TableColumn::Verdict;
}

Text tableCell(const Document& doc, int n, TableColumn column, const Inspection* facts) {
    const ResourceCatalogue& catalogue = doc.catalogue;
    switch (column) {
        case TableColumn::Number:
            return intToText(n);
        case TableColumn::Kind:
            return catalogue.kindNameOf(n);
        case TableColumn::Offset:
            return hex(catalogue.slot(n).offset);
        case TableColumn::Size:
            return intToText(catalogue.dataLength(n));
        case TableColumn::Source: {
            const ResourceOrigin* origin = catalogue.origin(n);
            return origin ? origin->source : Text();
        }
        default:
            break;
    }
    if (!facts) return {};
    switch (column) {
        case TableColumn::Format:
            return facts->format == PictureFormat::None ? Text()
                                                        : Text(pictureFormatName(facts->format));
        case TableColumn::Dimensions:
            return hasSize(*facts) ? concatText({intToText(facts->width), app_text::times(),
                                                 intToText(facts->height)})
                                   : Text();
        case TableColumn::Frames:
            return facts->format == PictureFormat::None || facts->frames <= 0
                       ? Text()
                       : intToText(facts->frames);
        case TableColumn::Verdict:
            return shortVerdict(facts->verdict);
        default:
            return {};
    }
}

Text describeInspection(const Inspection& what, std::int64_t length) {
    using namespace app_text;
    const Text size = concatText({intToText(length), bytesWord()});
    if (what.format == PictureFormat::None) return concatText({notAPicture(), comma(), size});
    const bool animation = what.format == PictureFormat::Gif && what.frames > 1;
    Text out =
        concatText({pictureFormatName(what.format), animation ? animationWord() : pictureWord()});
    if (what.width > 0 && what.height > 0)
        out += concatText({intToText(what.width), times(), intToText(what.height)});
    out += comma();
    if (animation) out += concatText({intToText(what.frames), framesWord(), comma()});
    out += concatText({size, comma()});
    switch (what.verdict) {
        case Verdict::Complete:
            out += complete();
            // A GIF without its trailer, or pixel data too large to check.
            if (what.reason != Reason::None)
                out += concatText(
                    {openParen(), reasonText(what.reason, what.reasonItem), closeParen()});
            break;
        case Verdict::CutShort:
            out += what.extent ? concatText({cutShortBy(), intToText(*what.extent), bytesWord()})
                               : cutShortOpen();
            break;
        case Verdict::TrailingBytes:
            out += concatText({trailingStart(), intToText(length - what.extent.value_or(length)),
                               trailingBy(), intToText(what.extent.value_or(length)), bytesWord()});
            break;
        case Verdict::Damaged:
            out += damaged();
            if (what.reason != Reason::None)
                out += concatText({colon(), reasonText(what.reason, what.reasonItem)});
            break;
        case Verdict::Unchecked:
            out += unchecked();
            break;
        case Verdict::NotAPicture:
            break;
    }
    if (!what.decodes) out += concatText({comma(), cannotShow()});
    return out;
}

std::vector<int> sortedResources(const Document& doc, TableColumn column, bool ascending,
                                 const std::vector<std::optional<Inspection>>& facts) {
    const ResourceCatalogue& catalogue = doc.catalogue;
    const int count = catalogue.size();
    std::vector<int> order(static_cast<std::size_t>(count));
    for (int n = 1; n <= count; ++n) order[static_cast<std::size_t>(n - 1)] = n;
    const auto known = [&](int n) -> const Inspection* {
        const auto at = static_cast<std::size_t>(n);
        return at < facts.size() && facts[at] ? &*facts[at] : nullptr;
    };
    // Numbers compare as numbers and texts as bytes; each key is worked out once.
    std::vector<std::int64_t> number(static_cast<std::size_t>(count) + 1, 0);
    std::vector<Text> text;
    std::vector<char> unknown(static_cast<std::size_t>(count) + 1, 0);
    const bool byText = column == TableColumn::Kind || column == TableColumn::Source ||
                        column == TableColumn::Format;
    if (byText) text.resize(static_cast<std::size_t>(count) + 1);
    for (int n = 1; n <= count; ++n) {
        const auto at = static_cast<std::size_t>(n);
        const Inspection* what = known(n);
        if (needsInspection(column) && !what) {
            unknown[at] = 1;
            continue;
        }
        switch (column) {
            case TableColumn::Number:
                number[at] = n;
                break;
            case TableColumn::Offset:
                number[at] = catalogue.slot(n).offset;
                break;
            case TableColumn::Size:
                number[at] = catalogue.dataLength(n);
                break;
            case TableColumn::Dimensions:
                number[at] = hasSize(*what) ? std::int64_t{what->width} * what->height : -1;
                break;
            case TableColumn::Frames:
                number[at] = what->frames;
                break;
            case TableColumn::Verdict:
                number[at] = static_cast<std::int64_t>(what->verdict);
                break;
            default:
                text[at] = tableCell(doc, n, column, what);
                break;
        }
    }
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        const auto x = static_cast<std::size_t>(a), y = static_cast<std::size_t>(b);
        if (unknown[x] != unknown[y]) return unknown[x] < unknown[y];
        if (unknown[x]) return false;
        if (byText) return ascending ? text[x] < text[y] : text[y] < text[x];
        return ascending ? number[x] < number[y] : number[y] < number[x];
    });
    return order;
}

BackgroundInspector::BackgroundInspector() : worker_([this] { run(); }) {}

BackgroundInspector::~BackgroundInspector() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

void BackgroundInspector::ask(std::uint64_t generation, int n, InspectionInput input, bool urgent) {
    {
        std::lock_guard lock(mutex_);
        // No search of the queue: a hundred thousand rows asked at once must not take
        // time in proportion to their square. A copy asked urgently goes in front; the
        // worker skips what it has done already.
        if (!asked_.insert(n).second && (!urgent || done_n_.count(n))) return;
        Job job{generation, n, std::move(input)};
        if (urgent)
            jobs_.push_front(std::move(job));
        else
            jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void BackgroundInspector::forget() {
    std::lock_guard lock(mutex_);
    jobs_.clear();
    asked_.clear();
    done_n_.clear();
}

std::vector<BackgroundInspector::Result> BackgroundInspector::take() {
    std::lock_guard lock(mutex_);
    return std::exchange(done_, {});
}

bool BackgroundInspector::idle() const {
    std::lock_guard lock(mutex_);
    return jobs_.empty() && !busy_ && done_.empty();
}

void BackgroundInspector::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
        if (stop_) return;
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        if (!done_n_.insert(job.n).second) continue;  // a copy of one done already
        busy_ = true;
        lock.unlock();
        Inspection facts = inspectInput(job.input);
        lock.lock();
        busy_ = false;
        done_.push_back({job.generation, job.n, std::move(facts)});
    }
}

}  // namespace kerbilo
