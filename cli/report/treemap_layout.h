#pragma once

// The squarified treemap layout (Bruls, Huizing and van Wijk): rectangles whose areas are
// proportional to the sizes they stand for, tiling a bounding rectangle, with aspect ratios kept
// close to 1 so that small items stay visible and comparable.

#include <vector>

namespace pel_mora::cli {

struct LayoutRect {
  double x = 0;
  double y = 0;
  double width = 0;
  double height = 0;
};

// Lays out `sizes` in `bounds` and returns one rectangle per size, in the order of `sizes`.
// The items are placed largest first (equal sizes in their given order), each row along the
// shorter side of the space left. Rectangles of positive sizes tile `bounds` exactly; an item
// whose size is zero, negative or not finite gets an empty rectangle at the corner of `bounds`,
// and so does every item when `bounds` is empty.
std::vector<LayoutRect> SquarifiedLayout(const std::vector<double>& sizes, const LayoutRect& bounds);

}  // namespace pel_mora::cli
