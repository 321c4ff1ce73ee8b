// SVG line plots.
#include "inspect/svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iterator>
#include <sstream>

#include "host/xml_text.h"

namespace qvinspect {
namespace {

std::string label(double v, double step) {
    if (std::fabs(v) < step * 1e-6) v = 0.0;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.4g", v);
    return buf;
}

}  // namespace

std::vector<double> nice_ticks(double lo, double hi, int target) {
    std::vector<double> ticks;
    if (!(hi > lo) || !std::isfinite(lo) || !std::isfinite(hi)) return {lo};
    const double raw = (hi - lo) / std::max(1, target);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    double step = power;
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= raw) {
            step = m * power;
            break;
        }
    for (double t = std::ceil(lo / step - 1e-9) * step; t <= hi + step * 1e-9; t += step) ticks.push_back(t);
    return ticks;
}

std::string svg_line_plot(const Plot& plot) {
    constexpr double W = 760, H = 440, left = 100, right = 30, top = 50, bottom = 70;
    const std::vector<Curve> curves = plot.curves.empty() ? std::vector<Curve>{{"", plot.y}} : plot.curves;
    std::vector<std::vector<std::pair<double, double>>> lines;
    bool any = false;
    double x0 = 0, x1 = 1, y0 = 0, y1 = 1;
    for (const Curve& c : curves) {
        lines.emplace_back();
        for (std::size_t i = 0; i < std::min(plot.x.size(), c.y.size()); ++i) {
            const double x = plot.x[i], y = c.y[i];
            if (!std::isfinite(x) || !std::isfinite(y)) continue;
            lines.back().emplace_back(x, y);
            if (!any) x0 = x1 = x, y0 = y1 = y, any = true;
            x0 = std::min(x0, x), x1 = std::max(x1, x);
            y0 = std::min(y0, y), y1 = std::max(y1, y);
        }
    }
    // A flat series or a single point still gets a visible range.
    auto widen = [](double& lo, double& hi) {
        if (hi > lo) return;
        const double pad = lo == 0.0 ? 1.0 : std::fabs(lo) * 0.1;
        lo -= pad, hi += pad;
    };
    widen(x0, x1);
    widen(y0, y1);
    const double ypad = (y1 - y0) * 0.05;
    y0 -= ypad, y1 += ypad;

    const double pw = W - left - right, ph = H - top - bottom;
    auto px = [&](double x) { return left + (x - x0) / (x1 - x0) * pw; };
    auto py = [&](double y) { return top + ph - (y - y0) / (y1 - y0) * ph; };

    std::ostringstream os;
    os.precision(6);
    os << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
       << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << W << "\" height=\"" << H
       << "\" viewBox=\"0 0 " << W << ' ' << H << "\" font-family=\"sans-serif\" font-size=\"12\">\n"
       << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
       << "<text x=\"" << W / 2 << "\" y=\"28\" text-anchor=\"middle\" font-size=\"16\">" << qvhost::xml_escape(plot.title)
       << "</text>\n";
    const std::vector<double> xt = nice_ticks(x0, x1), yt = nice_ticks(y0, y1);
    const double xstep = xt.size() > 1 ? xt[1] - xt[0] : 1.0, ystep = yt.size() > 1 ? yt[1] - yt[0] : 1.0;
    os << "<g stroke=\"#dddddd\">\n";
    for (double t : xt)
        os << "<line x1=\"" << px(t) << "\" y1=\"" << top << "\" x2=\"" << px(t) << "\" y2=\"" << top + ph << "\"/>\n";
    for (double t : yt)
        os << "<line x1=\"" << left << "\" y1=\"" << py(t) << "\" x2=\"" << left + pw << "\" y2=\"" << py(t) << "\"/>\n";
    os << "</g>\n<g stroke=\"black\">\n"
       << "<line x1=\"" << left << "\" y1=\"" << top + ph << "\" x2=\"" << left + pw << "\" y2=\"" << top + ph << "\"/>\n"
       << "<line x1=\"" << left << "\" y1=\"" << top << "\" x2=\"" << left << "\" y2=\"" << top + ph << "\"/>\n"
       << "</g>\n<g text-anchor=\"middle\">\n";
    for (double t : xt)
        os << "<text x=\"" << px(t) << "\" y=\"" << top + ph + 18 << "\">" << label(t, xstep) << "</text>\n";
    os << "</g>\n<g text-anchor=\"end\">\n";
    for (double t : yt)
        os << "<text x=\"" << left - 6 << "\" y=\"" << py(t) + 4 << "\">" << label(t, ystep) << "</text>\n";
    os << "</g>\n"
       << "<text x=\"" << left + pw / 2 << "\" y=\"" << H - 20 << "\" text-anchor=\"middle\">"
       << qvhost::xml_escape(plot.x_label) << "</text>\n"
       << "<text x=\"18\" y=\"" << top + ph / 2 << "\" text-anchor=\"middle\" transform=\"rotate(-90 18 "
       << top + ph / 2 << ")\">" << qvhost::xml_escape(plot.y_label) << "</text>\n";
    // Colours that stay apart for the first ten series, then repeat.
    static const char* const kColours[] = {"#1f5fbf", "#d62728", "#2ca02c", "#ff7f0e", "#9467bd",
                                           "#8c564b", "#e377c2", "#7f7f7f", "#bcbd22", "#17becf"};
    for (std::size_t c = 0; c < lines.size(); ++c) {
        const char* colour = kColours[c % std::size(kColours)];
        if (lines[c].empty()) continue;
        os << "<polyline fill=\"none\" stroke=\"" << colour << "\" stroke-width=\"2\" points=\"";
        for (const auto& [x, y] : lines[c]) os << px(x) << ',' << py(y) << ' ';
        os << "\"/>\n<g fill=\"" << colour << "\">\n";
        for (const auto& [x, y] : lines[c]) os << "<circle cx=\"" << px(x) << "\" cy=\"" << py(y) << "\" r=\"3\"/>\n";
        os << "</g>\n";
    }
    if (curves.size() > 1) {
        os << "<g font-size=\"11\">\n";
        for (std::size_t c = 0; c < curves.size(); ++c) {
            const double y = top + 8 + 14 * static_cast<double>(c);
            os << "<line x1=\"" << left + pw - 150 << "\" y1=\"" << y << "\" x2=\"" << left + pw - 132 << "\" y2=\""
               << y << "\" stroke=\"" << kColours[c % std::size(kColours)] << "\" stroke-width=\"2\"/>\n"
               << "<text x=\"" << left + pw - 128 << "\" y=\"" << y + 4 << "\">" << qvhost::xml_escape(curves[c].name)
               << "</text>\n";
        }
        os << "</g>\n";
    }
    os << "</svg>\n";
    return os.str();
}

}  // namespace qvinspect
