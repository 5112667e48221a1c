#include "cli/report/treemap_layout.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <numeric>

namespace pel_mora::cli {

namespace {

// The worst aspect ratio of a row of areas summing to `sum`, with smallest `smallest` and largest
// `largest`, laid along a side of length `side`: max(side² · largest / sum², sum² / (side² · smallest)).
double WorstAspect(double sum, double smallest, double largest, double side) {
  const double side_squared = side * side;
  const double sum_squared = sum * sum;
  return std::max(side_squared * largest / sum_squared, sum_squared / (side_squared * smallest));
}

}  // namespace

std::vector<LayoutRect> SquarifiedLayout(const std::vector<double>& sizes, const LayoutRect& bounds) {
  std::vector<LayoutRect> result(sizes.size(), LayoutRect{bounds.x, bounds.y, 0, 0});
  if (!(bounds.width > 0) || !(bounds.height > 0)) {
    return result;
  }
  std::vector<size_t> order;
  double total = 0;
  for (size_t index = 0; index < sizes.size(); ++index) {
    if (sizes[index] > 0 && std::isfinite(sizes[index])) {
      order.push_back(index);
      total += sizes[index];
    }
  }
  if (order.empty() || !std::isfinite(total)) {
    return result;
  }
  std::stable_sort(order.begin(), order.end(), [&](size_t left, size_t right) { return sizes[left] > sizes[right]; });
  // Areas in the units of `bounds`, so that the rows fill it exactly.
  const double scale = bounds.width * bounds.height / total;

  LayoutRect free = bounds;
  size_t row_begin = 0;
  while (row_begin < order.size()) {
    const bool wide = free.width >= free.height;
    const double side = wide ? free.height : free.width;
    // Grow the row while its worst aspect ratio does not get worse.
    size_t row_end = row_begin + 1;
    double row_sum = sizes[order[row_begin]] * scale;
    const double largest = row_sum;
    double smallest = row_sum;
    double worst = WorstAspect(row_sum, smallest, largest, side);
    while (row_end < order.size()) {
      const double area = sizes[order[row_end]] * scale;
      const double candidate = WorstAspect(row_sum + area, std::min(smallest, area), largest, side);
      if (candidate > worst) {
        break;
      }
      worst = candidate;
      row_sum += area;
      smallest = std::min(smallest, area);
      ++row_end;
    }
    const bool last_row = row_end == order.size();
    // The last row takes all the space left, so rounding never leaves a sliver or overflows.
    const double free_extent = wide ? free.width : free.height;
    const double thickness = last_row ? free_extent : std::min(free_extent, row_sum / side);
    double offset = 0;
    for (size_t position = row_begin; position < row_end; ++position) {
      const double area = sizes[order[position]] * scale;
      const bool last_in_row = position + 1 == row_end;
      const double length = last_in_row ? side - offset : std::min(side - offset, side * area / row_sum);
      LayoutRect& rect = result[order[position]];
      if (wide) {
        rect = LayoutRect{free.x, free.y + offset, thickness, length};
      } else {
        rect = LayoutRect{free.x + offset, free.y, length, thickness};
      }
      offset += length;
    }
    if (wide) {
      free.x += thickness;
      free.width = last_row ? 0 : free.width - thickness;
    } else {
      free.y += thickness;
      free.height = last_row ? 0 : free.height - thickness;
    }
    row_begin = row_end;
  }
  return result;
}

}  // namespace pel_mora::cli
