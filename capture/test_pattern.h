#ifndef CLOAKCAM_CAPTURE_TEST_PATTERN_H
#define CLOAKCAM_CAPTURE_TEST_PATTERN_H

// The picture shown when there is no camera: a still colour chart with a white
// ball moving over it, so the effect has a steady scene to keep as its
// reference and something that moves against it.

#include <vector>

class TestPattern {
  public:
    // Paints the chart once; drawing a frame then costs a copy and the ball.
    TestPattern(int width, int height);

    // Writes the picture at `seconds` into `frame` in the camera's layout:
    // width * height groups of blue, green, red, bottom row first.
    void draw(unsigned char *frame, double seconds) const;

    // Where the ball's centre is at `seconds`, in picture coordinates (row 0
    // at the top).
    void ballCentre(double seconds, int *x, int *y) const;

  private:
    int width_;
    int height_;
    int radius_;
    std::vector<unsigned char> chart_;
};

#endif
