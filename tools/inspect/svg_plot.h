// A line plot as a standalone SVG document: one series, axes with a few
// tick labels, a title and axis labels.
#pragma once

#include <string>
#include <vector>

namespace qvinspect {

struct Plot {
    std::string title;
    std::string x_label;
    std::string y_label;
    std::vector<double> x, y;  // same length; non-finite points are left out
};

std::string svg_line_plot(const Plot& plot);

// Tick positions covering [lo, hi] at a round step (1, 2 or 5 times a power
// of ten), about `target` of them.
std::vector<double> nice_ticks(double lo, double hi, int target = 5);

}  // namespace qvinspect
