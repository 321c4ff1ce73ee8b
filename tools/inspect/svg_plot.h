// A line plot as a standalone SVG document: one or more series over the
// same x, axes with a few tick labels, a title, axis labels and, for several
// series, a legend.
#pragma once

#include <string>
#include <vector>

namespace qvinspect {

struct Curve {
    std::string name;
    std::vector<double> y;  // over Plot::x; non-finite points are left out
};

struct Plot {
    std::string title;
    std::string x_label;
    std::string y_label;
    std::vector<double> x, y;  // same length; non-finite points are left out
    // Several series, each in its own colour and named in the legend; `y`
    // is then not drawn.
    std::vector<Curve> curves;
};

std::string svg_line_plot(const Plot& plot);

// Tick positions covering [lo, hi] at a round step (1, 2 or 5 times a power
// of ten), about `target` of them.
std::vector<double> nice_ticks(double lo, double hi, int target = 5);

}  // namespace qvinspect
