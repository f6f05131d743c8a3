#include "capture/video_image.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Records that start out with a value no conversion produces, so that a
// record the conversion skipped is noticed.
struct Records {
    explicit Records(int count) : storage(count, Pixel{-1, -1, -1}), pointers(count) {
        for (int i = 0; i < count; ++i)
            pointers[i] = &storage[i];
    }
    std::vector<Pixel> storage;
    std::vector<Pixel *> pointers;
};

void expectPixel(const Pixel &p, int r, int g, int b) {
    EXPECT_EQ(p.r, r);
    EXPECT_EQ(p.g, g);
    EXPECT_EQ(p.b, b);
}

TEST(RecordsFromBgr, WalksBottomUpBgrBackwardsIntoMirroredUprightRecords) {
    const unsigned char twoByOne[] = {10, 20, 30, 40, 50, 60};
    Records records(2);
    recordsFromBgr(twoByOne, sizeof twoByOne, records.pointers.data(), 2);
    expectPixel(records.storage[0], 60, 50, 40);
    expectPixel(records.storage[1], 30, 20, 10);

    // Two rows of two, bottom row first: the top row's right pixel becomes
    // record 0 and the bottom row's left pixel the last record.
    const unsigned char twoByTwo[] = {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4};
    Records grid(4);
    recordsFromBgr(twoByTwo, sizeof twoByTwo, grid.pointers.data(), 4);
    for (int i = 0; i < 4; ++i)
        expectPixel(grid.storage[i], 4 - i, 4 - i, 4 - i);

    const std::vector<unsigned char> white(3 * 6, 255);
    Records bright(6);
    recordsFromBgr(white.data(), static_cast<long>(white.size()), bright.pointers.data(), 6);
    for (const Pixel &p : bright.storage)
        expectPixel(p, 255, 255, 255);
}

TEST(RecordsFromBgr, StaysInsideTheDeliveredDataWhateverSizeIsReported) {
    // A short frame fills the first records from what arrived; the rest,
    // which have no data, are black rather than stale or read out of bounds.
    const unsigned char shortFrame[] = {7, 8, 9, 1, 2, 3, 99};
    Records records(4);
    recordsFromBgr(shortFrame, 7, records.pointers.data(), 4);
    expectPixel(records.storage[0], 99, 3, 2);
    expectPixel(records.storage[1], 1, 9, 8);
    expectPixel(records.storage[2], 0, 0, 0);
    expectPixel(records.storage[3], 0, 0, 0);

    for (long size : {-3L, 0L, 1L, 2L}) {
        Records empty(2);
        recordsFromBgr(shortFrame, size, empty.pointers.data(), 2);
        expectPixel(empty.storage[0], 0, 0, 0);
        expectPixel(empty.storage[1], 0, 0, 0);
    }

    // A size larger than the records can hold is cut to the records' share
    // at the start of the data.
    const unsigned char large[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    Records two(2);
    recordsFromBgr(large, 900, two.pointers.data(), 2);
    expectPixel(two.storage[0], 6, 5, 4);
    expectPixel(two.storage[1], 3, 2, 1);
}

} // namespace
