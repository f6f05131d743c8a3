#include "capture/test_pattern.h"

#include <cmath>
#include <cstring>

namespace {

// A fully saturated colour of hue `h` in 0..1, as red, green, blue.
void hue(double h, double rgb[3]) {
    const double sector = h * 6.0;
    const int i = static_cast<int>(sector) % 6;
    const double f = sector - std::floor(sector);
    const double table[6][3] = {{1, f, 0},     {1 - f, 1, 0}, {0, 1, f},
                                {0, 1 - f, 1}, {f, 0, 1},     {1, 0, 1 - f}};
    for (int c = 0; c < 3; ++c)
        rgb[c] = table[i][c];
}

} // namespace

TestPattern::TestPattern(int width, int height)
    : width_(width), height_(height), radius_(height / 16 > 1 ? height / 16 : 1),
      chart_(static_cast<size_t>(width) * height * 3) {
    // Hue runs across, brightness falls from top to bottom: every part of the
    // chart differs from its neighbours, so the displacement shows everywhere.
    for (int y = 0; y < height_; ++y) {
        const double level = 1.0 - 0.75 * y / (height_ > 1 ? height_ - 1 : 1);
        unsigned char *row = &chart_[static_cast<size_t>(height_ - 1 - y) * width_ * 3];
        for (int x = 0; x < width_; ++x) {
            double rgb[3];
            hue(static_cast<double>(x) / width_, rgb);
            for (int c = 0; c < 3; ++c)
                row[x * 3 + 2 - c] = static_cast<unsigned char>(255.0 * level * rgb[c] + 0.5);
        }
    }
}

void TestPattern::ballCentre(double seconds, int *x, int *y) const {
    // The two axes swing at different rates, so the ball never rests and
    // wanders over the whole chart.
    *x = width_ / 2 + static_cast<int>(width_ / 3 * std::sin(seconds * 1.7));
    *y = height_ / 2 + static_cast<int>(height_ / 3 * std::sin(seconds * 1.1 + 1.0));
}

void TestPattern::draw(unsigned char *frame, double seconds) const {
    std::memcpy(frame, chart_.data(), chart_.size());
    int centreX, centreY;
    ballCentre(seconds, &centreX, &centreY);
    for (int y = centreY - radius_; y <= centreY + radius_; ++y) {
        if (y < 0 || y >= height_)
            continue;
        unsigned char *row = frame + static_cast<size_t>(height_ - 1 - y) * width_ * 3;
        for (int x = centreX - radius_; x <= centreX + radius_; ++x) {
            const int dx = x - centreX, dy = y - centreY;
            if (x >= 0 && x < width_ && dx * dx + dy * dy <= radius_ * radius_)
                std::memset(row + x * 3, 255, 3);
        }
    }
}
