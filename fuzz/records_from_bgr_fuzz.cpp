// Feeds recordsFromBgr frames of any content with any size the grabber might
// report, into any number of records, and checks that every record comes out
// as the delivered data says or black. Out-of-bounds reads and writes and
// undefined behaviour are caught by the sanitizers this is built with.
#include <fuzzer/FuzzedDataProvider.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "capture/video_image.h"

namespace {

// Enough records for rows of any width the fuzzer cares to find; a whole
// 320x240 frame would only slow every run down.
constexpr int maxCount = 2048;

// A value no conversion can give, so a record left untouched is noticed.
constexpr int32_t untouched = -1;

// The sizes a grabber is most likely to get wrong, besides arbitrary ones.
long reportedSize(uint8_t choice, long raw, int count, size_t arrived) {
    const long whole = 3L * count;
    switch (choice % 12) {
    case 0:
        return 0;
    case 1:
        return 1;
    case 2:
        return 2;
    case 3:
        return -1;
    case 4:
        return LONG_MIN;
    case 5:
        return LONG_MAX;
    case 6:
        return whole;
    case 7:
        return whole - 1;
    case 8:
        return whole + 1;
    case 9:
        return static_cast<long>(arrived);
    case 10:
        return whole + static_cast<long>(arrived);
    default:
        return raw;
    }
}

[[noreturn]] void fault(const char *what, int record, int count, long size) {
    std::fprintf(stderr, "recordsFromBgr: %s at record %d of %d, reported size %ld\n", what, record,
                 count, size);
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t length) {
    FuzzedDataProvider input(data, length);
    const uint8_t choice = input.ConsumeIntegral<uint8_t>();
    const int count = input.ConsumeIntegralInRange<int>(0, maxCount);
    const long raw = input.ConsumeIntegral<long>();
    const std::vector<uint8_t> arrived = input.ConsumeRemainingBytes<uint8_t>();
    const long size = reportedSize(choice, raw, count, arrived.size());

    // The grabber's buffer is exactly count * 3 bytes, allocated on its own so
    // that a read one byte past it is caught. What did not arrive in this
    // frame is left over from earlier ones: the arrived bytes again.
    const size_t bufferLength = 3 * static_cast<size_t>(count);
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[bufferLength]);
    for (size_t k = 0; k < bufferLength; ++k)
        buffer[k] = arrived.empty() ? 0x5A : arrived[k % arrived.size()];

    std::vector<Pixel> records(count, Pixel{untouched, untouched, untouched});
    std::vector<Pixel *> pointers(count);
    for (int i = 0; i < count; ++i)
        pointers[i] = &records[i];

    recordsFromBgr(buffer.get(), size, pointers.data(), count);

    // Only the first min(size, count * 3) bytes were delivered; record i is
    // the i-th whole 3-byte group from their end, blue first, and a record
    // with no whole group left is black.
    const long used = size < 0 ? 0 : (size > 3L * count ? 3L * count : size);
    const int groups = static_cast<int>(used / 3);
    for (int i = 0; i < count; ++i) {
        if (pointers[i] != &records[i])
            fault("record pointer changed", i, count, size);
        const Pixel &p = records[i];
        if (i >= groups) {
            if (p.r != 0 || p.g != 0 || p.b != 0)
                fault("record without data is not black", i, count, size);
            continue;
        }
        const unsigned char *group = buffer.get() + used - 3L * (i + 1);
        if (p.r != group[2] || p.g != group[1] || p.b != group[0])
            fault("record does not hold its delivered bytes", i, count, size);
    }
    return 0;
}
