#include "capture/format_choice.h"

#include <cstdlib>

namespace {

long distance(const OfferedFormat &format, int width, int height) {
    return std::labs(long(format.width) - width) + std::labs(std::labs(format.height) - height);
}

// The nearest among the formats `eligible` lets through; of two as near, the
// larger, since shrinking a picture loses less than stretching it.
template <typename Eligible>
int nearest(const std::vector<OfferedFormat> &offered, int width, int height, Eligible eligible) {
    int best = -1;
    for (int i = 0; i < static_cast<int>(offered.size()); ++i) {
        if (!eligible(offered[i]) || offered[i].width <= 0 || offered[i].height == 0)
            continue;
        if (best < 0)
            best = i;
        const long here = distance(offered[i], width, height);
        const long there = distance(offered[best], width, height);
        if (here < there || (here == there && offered[i].width > offered[best].width))
            best = i;
    }
    return best;
}

} // namespace

int chooseFormat(const std::vector<OfferedFormat> &offered, const GUID &current, int width,
                 int height) {
    const int own = nearest(offered, width, height,
                            [&](const OfferedFormat &f) { return f.subtype == current; });
    if (own >= 0)
        return own;
    return nearest(offered, width, height, [](const OfferedFormat &) { return true; });
}
