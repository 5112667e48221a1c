// The squarified layout's properties over a table of size lists: the areas are proportional to
// the sizes, the rectangles tile their bounds without overlapping, and they stay close to square.

#include "cli/report/treemap_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numeric>
#include <string>
#include <vector>

namespace pel_mora::cli {
namespace {

constexpr double kTolerance = 1e-6;

double Area(const LayoutRect& rect) { return rect.width * rect.height; }

double Aspect(const LayoutRect& rect) {
  return std::max(rect.width, rect.height) / std::min(rect.width, rect.height);
}

bool Inside(const LayoutRect& inner, const LayoutRect& outer) {
  return inner.x >= outer.x - kTolerance && inner.y >= outer.y - kTolerance &&
         inner.x + inner.width <= outer.x + outer.width + kTolerance &&
         inner.y + inner.height <= outer.y + outer.height + kTolerance && inner.width >= 0 && inner.height >= 0;
}

double OverlapArea(const LayoutRect& a, const LayoutRect& b) {
  const double width = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
  const double height = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
  return width > 0 && height > 0 ? width * height : 0;
}

// Checks every property the layout promises for `sizes` in `bounds`, and returns the worst
// aspect ratio among the items of positive size.
double CheckLayout(const std::vector<double>& sizes, const LayoutRect& bounds, const std::string& label) {
  const std::vector<LayoutRect> rects = SquarifiedLayout(sizes, bounds);
  EXPECT_EQ(rects.size(), sizes.size()) << label;
  if (rects.size() != sizes.size()) {
    return 0;
  }
  double total = 0;
  for (const double size : sizes) {
    total += size > 0 ? size : 0;
  }
  const double bounds_area = Area(bounds);
  double covered = 0;
  double worst = 1;
  for (size_t index = 0; index < sizes.size(); ++index) {
    const LayoutRect& rect = rects[index];
    EXPECT_TRUE(Inside(rect, bounds)) << label << ": item " << index;
    if (sizes[index] <= 0) {
      EXPECT_EQ(Area(rect), 0) << label << ": item " << index << " has no size and must take no space";
      continue;
    }
    const double expected = sizes[index] / total * bounds_area;
    EXPECT_NEAR(Area(rect), expected, expected * 1e-6 + kTolerance) << label << ": item " << index;
    covered += Area(rect);
    worst = std::max(worst, Aspect(rect));
    for (size_t other = 0; other < index; ++other) {
      EXPECT_LE(OverlapArea(rect, rects[other]), kTolerance) << label << ": items " << other << " and " << index;
    }
  }
  if (total > 0) {
    EXPECT_NEAR(covered, bounds_area, bounds_area * 1e-9) << label << ": the items must tile the bounds";
  }
  return worst;
}

TEST(SquarifiedLayoutTest, PropertiesHoldForEveryKindOfSizeList) {
  std::vector<double> one_huge_many_tiny{10000};
  one_huge_many_tiny.insert(one_huge_many_tiny.end(), 300, 1.0);
  std::vector<double> with_zeros{0, 500, 0, 300, 200, 0};
  std::vector<double> descending;
  for (int size = 60; size > 0; --size) {
    descending.push_back(size * size);
  }
  std::vector<double> unsorted{3, 97, 12, 45, 1, 45, 8, 60, 2, 30};
  struct Case {
    const char* name;
    std::vector<double> sizes;
    LayoutRect bounds;
    double worst_aspect;  // the squarified rows keep every item below this ratio
  };
  const Case cases[] = {
      {"one item", {42}, {10, 20, 300, 200}, 1.5 + kTolerance},
      {"sixteen equal in a square", std::vector<double>(16, 7.0), {0, 0, 400, 400}, 1 + kTolerance},
      {"equal in a wide strip", std::vector<double>(10, 1.0), {0, 0, 1000, 100}, 1 + kTolerance},
      {"equal in a tall strip", std::vector<double>(7, 5.0), {0, 0, 50, 700}, 2.5},
      {"sizes from the paper", {6, 6, 4, 3, 2, 2, 1}, {0, 0, 6, 4}, 3},
      {"descending squares", descending, {0, 0, 1280, 720}, 4},
      {"unsorted with ties", unsorted, {5, 5, 640, 360}, 4},
      // The huge item is as square as its share allows; the tiny ones fill the strip left over.
      {"one huge and many tiny", one_huge_many_tiny, {0, 0, 1280, 720}, 1.8},
      {"zero sizes among others", with_zeros, {0, 0, 100, 100}, 3},
  };
  for (const Case& test_case : cases) {
    const double worst = CheckLayout(test_case.sizes, test_case.bounds, test_case.name);
    EXPECT_LE(worst, test_case.worst_aspect) << test_case.name;
  }
}

TEST(SquarifiedLayoutTest, NothingToLayOutGivesEmptyRectangles) {
  struct Case {
    const char* name;
    std::vector<double> sizes;
    LayoutRect bounds;
  };
  const Case cases[] = {
      {"all zero", {0, 0, 0}, {3, 4, 100, 100}},
      {"negative and not finite", {-5, std::nan(""), HUGE_VAL}, {3, 4, 100, 100}},
      {"bounds without area", {1, 2, 3}, {3, 4, 0, 100}},
  };
  for (const Case& test_case : cases) {
    const std::vector<LayoutRect> rects = SquarifiedLayout(test_case.sizes, test_case.bounds);
    ASSERT_EQ(rects.size(), test_case.sizes.size()) << test_case.name;
    for (const LayoutRect& rect : rects) {
      EXPECT_EQ(Area(rect), 0) << test_case.name;
      EXPECT_EQ(rect.x, 3) << test_case.name;
      EXPECT_EQ(rect.y, 4) << test_case.name;
    }
  }
  EXPECT_TRUE(SquarifiedLayout({}, {0, 0, 10, 10}).empty());
}

// Each level lays out its children inside the rectangle its parent got, as the report does for
// folders within folders; forty levels down the rectangles still nest and keep their shares.
TEST(SquarifiedLayoutTest, DeepNestingStaysInsideEachParent) {
  LayoutRect parent{0, 0, 1280, 720};
  const std::vector<double> sizes{70, 20, 10};
  for (int depth = 0; depth < 40; ++depth) {
    const std::string label = "depth " + std::to_string(depth);
    CheckLayout(sizes, parent, label);
    const std::vector<LayoutRect> rects = SquarifiedLayout(sizes, parent);
    ASSERT_TRUE(Inside(rects[0], parent)) << label;
    ASSERT_GT(Area(rects[0]), 0) << label;
    parent = rects[0];
  }
}

}  // namespace
}  // namespace pel_mora::cli
