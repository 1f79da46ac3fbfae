// The filter box's words against resources: sizes, offsets, kinds, and the facts that only
// inspection tells.

#include <gtest/gtest.h>

#include "app/resource_filter.h"
#include "app_helpers.h"
#include "scan_helpers.h"

namespace kerbilo::testing::resource_filter_tests {

// Resource 1: a PNG-shaped run of 28 bytes at offset 3 (0x3); resource 2: 1 KiB one at 0x23.
TEST(ResourceFilter, WordsNarrowByEveryField) {
    ScanWorld w;
    ASSERT_TRUE(w.open(join({filler(3), png(filler(4)), png(filler(1024))})));
    const Document& doc = w.state;
    ASSERT_EQ(doc.catalogue.size(), 2);
    ASSERT_EQ(doc.catalogue.dataLength(1), 28);
    ASSERT_EQ(doc.catalogue.slot(2).offset, 0x1F);
    Inspection damaged;
    damaged.format = PictureFormat::Png;
    damaged.verdict = Verdict::Damaged;

    const struct {
        const char* words;
        bool first, second;
    } cases[] = {
        {"", true, true},
        {"png", true, true},
        {"PnG", true, true},
        {"gif", false, false},
        {">28", false, true},
        {">=28", true, true},
        {"<1k", true, false},
        {"<=1k", true, false},
        {"20-100", true, false},
        {"1k-2k", false, true},
        {"0x1F", false, true},
        {"0x001f", false, true},
        {"0x3", true, false},
        {"1F", false, true},       // hex digits found in the offset
        {"png >28", false, true},  // every word must fit
        {"damaged", false, true},  // the listing's English word; only 2 is inspected
        {"已损坏", false, true},   // and the Chinese one
        {"complete", false, false},
        {">zz", false, false},  // no size: a text no field holds
        // kerbilo-cli's --verdict words: exactly those verdicts, and only once inspected.
        {"verdict:damaged", false, true},
        {"VERDICT:complete,damaged", false, true},
        {"verdict:complete", false, false},
        {"verdict:damage", false, false},  // no such verdict: nothing fits
        {"verdict:cut-short,trailing-bytes png", false, false},
    };
    for (const auto& c : cases) {
        const ResourceFilter f = ResourceFilter::parse(utf8ToGbk(c.words));
        EXPECT_EQ(f.matches(doc, 1, nullptr), c.first) << c.words;
        EXPECT_EQ(f.matches(doc, 2, &damaged), c.second) << c.words;
    }
    EXPECT_FALSE(ResourceFilter::parse(">10k 0x1F").wantsFacts());
    EXPECT_TRUE(ResourceFilter::parse("damaged").wantsFacts());
    EXPECT_TRUE(ResourceFilter::parse("verdict:complete").wantsFacts());
}

}  // namespace kerbilo::testing::resource_filter_tests
