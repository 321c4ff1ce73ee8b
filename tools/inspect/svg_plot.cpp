// SVG line plots.
#include "inspect/svg_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
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
    std::vector<std::pair<double, double>> pts;
    for (std::size_t i = 0; i < std::min(plot.x.size(), plot.y.size()); ++i)
        if (std::isfinite(plot.x[i]) && std::isfinite(plot.y[i])) pts.emplace_back(plot.x[i], plot.y[i]);

    double x0 = 0, x1 = 1, y0 = 0, y1 = 1;
    if (!pts.empty()) {
        x0 = x1 = pts.front().first;
        y0 = y1 = pts.front().second;
        for (const auto& [x, y] : pts) {
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
    if (!pts.empty()) {
        os << "<polyline fill=\"none\" stroke=\"#1f5fbf\" stroke-width=\"2\" points=\"";
        for (const auto& [x, y] : pts) os << px(x) << ',' << py(y) << ' ';
        os << "\"/>\n<g fill=\"#1f5fbf\">\n";
        for (const auto& [x, y] : pts) os << "<circle cx=\"" << px(x) << "\" cy=\"" << py(y) << "\" r=\"3\"/>\n";
        os << "</g>\n";
    }
    os << "</svg>\n";
    return os.str();
}

}  // namespace qvinspect
