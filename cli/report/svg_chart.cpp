#include "cli/report/svg_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace pelinor::cli {

namespace {

constexpr double kLeft = 52, kRight = 16, kTop = 30, kBottom = 42;

std::string num(double v, const char* format = "%.1f")
{
    // The charts leave out values that do not exist; this keeps a coordinate from ever
    // being written as "nan" or "inf" should one slip through.
    if (!std::isfinite(v)) v = 0.0;
    char buf[48];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

// Maps data coordinates onto the plot area.
struct Frame {
    double x0, x1, y0, y1; // data ranges
    double width, height; // whole picture
    bool reverseX = false;
    bool logX = false;
    double px(double x) const
    {
        double t = logX ? (std::log(x) - std::log(x0)) / (std::log(x1) - std::log(x0)) : (x - x0) / (x1 - x0);
        if (reverseX) t = 1.0 - t;
        return kLeft + t * (width - kLeft - kRight);
    }
    double py(double y) const { return height - kBottom - (y - y0) / (y1 - y0) * (height - kTop - kBottom); }
};

std::string open(const std::string& title, double width, double height)
{
    return "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" width=\"" + num(width, "%.0f")
        + "\" height=\"" + num(height, "%.0f") + "\" viewBox=\"0 0 " + num(width, "%.0f") + " "
        + num(height, "%.0f") + "\" role=\"img\" aria-label=\"" + htmlEscape(title)
        + "\">\n<text class=\"title\" x=\"" + num(kLeft) + "\" y=\"18\">" + htmlEscape(title) + "</text>\n";
}

std::string line(double x1, double y1, double x2, double y2, const char* cls)
{
    return "<line class=\"" + std::string(cls) + "\" x1=\"" + num(x1) + "\" y1=\"" + num(y1) + "\" x2=\""
        + num(x2) + "\" y2=\"" + num(y2) + "\"/>\n";
}

std::string text(double x, double y, const std::string& s, const char* cls, const char* anchor = "middle")
{
    return "<text class=\"" + std::string(cls) + "\" x=\"" + num(x) + "\" y=\"" + num(y) + "\" text-anchor=\""
        + anchor + "\">" + htmlEscape(s) + "</text>\n";
}

// Axes box, horizontal grid lines with labels, and the x axis title.
std::string axes(const Frame& f, const std::vector<double>& yTicks, const char* yFormat,
    const std::string& xLabel, const std::string& yLabel)
{
    std::string s;
    for (double t : yTicks) {
        s += line(kLeft, f.py(t), f.width - kRight, f.py(t), "grid");
        s += text(kLeft - 6, f.py(t) + 4, num(t, yFormat), "tick", "end");
    }
    s += line(kLeft, f.height - kBottom, f.width - kRight, f.height - kBottom, "axis");
    s += line(kLeft, kTop, kLeft, f.height - kBottom, "axis");
    s += text((kLeft + f.width - kRight) / 2, f.height - 6, xLabel, "label");
    s += "<text class=\"label\" transform=\"translate(14," + num((kTop + f.height - kBottom) / 2)
        + ") rotate(-90)\" text-anchor=\"middle\">" + htmlEscape(yLabel) + "</text>\n";
    return s;
}

} // namespace

std::string htmlEscape(const std::string& in)
{
    std::string out;
    out.reserve(in.size());
    for (char c : in) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string svgLineChart(const LineChart& input, int width, int height)
{
    // A point without a similarity (a picture of another size) has nowhere to go.
    LineChart chart = input;
    chart.points.clear();
    chart.pointLabels.clear();
    for (std::size_t i = 0; i < input.points.size(); ++i) {
        const auto& p = input.points[i];
        if (!std::isfinite(p.first) || !std::isfinite(p.second)) continue;
        chart.points.push_back(p);
        if (i < input.pointLabels.size()) chart.pointLabels.push_back(input.pointLabels[i]);
    }
    const bool logX = chart.logX
        && std::all_of(chart.points.begin(), chart.points.end(), [](const auto& p) { return p.first > 0; });
    Frame f{0, 1, -0.25, 1.0, double(width), double(height), chart.reverseX, logX};
    if (!chart.points.empty()) {
        auto [lo, hi] = std::minmax_element(chart.points.begin(), chart.points.end());
        f.x0 = lo->first;
        f.x1 = hi->first;
        for (const auto& p : chart.points)
            f.y0 = std::min(f.y0, std::floor(p.second * 4) / 4);
    }
    if (f.logX) {
        const double pad = std::pow(f.x1 > f.x0 ? f.x1 / f.x0 : 2.0, 0.05);
        f.x0 /= pad;
        f.x1 *= pad;
    } else {
        if (f.x1 <= f.x0) {
            f.x0 -= 1;
            f.x1 += 1;
        }
        const double pad = 0.05 * (f.x1 - f.x0);
        f.x0 -= pad;
        f.x1 += pad;
    }

    std::vector<double> yTicks;
    for (double t = f.y0; t <= 1.0 + 1e-9; t += 0.25)
        yTicks.push_back(t);
    std::string s = open(chart.title, width, height) + axes(f, yTicks, "%.2f", chart.xLabel, "similarity");
    for (const auto& p : chart.points) {
        s += line(f.px(p.first), height - kBottom, f.px(p.first), height - kBottom + 4, "axis");
        s += text(f.px(p.first), height - kBottom + 16, num(p.first, "%g"), "tick");
    }
    s += line(kLeft, f.py(chart.threshold), width - kRight, f.py(chart.threshold), "threshold");
    // Labelled at the left, where the points usually lie far above the line.
    s += text(
        kLeft + 4, f.py(chart.threshold) - 4, "threshold " + num(chart.threshold, "%g"), "note", "start");

    std::string path;
    for (const auto& p : chart.points)
        path += num(f.px(p.first)) + "," + num(f.py(p.second)) + " ";
    s += "<polyline class=\"series\" points=\"" + path + "\"/>\n";
    for (std::size_t i = 0; i < chart.points.size(); ++i) {
        const auto& p = chart.points[i];
        const std::string tip = (i < chart.pointLabels.size() ? chart.pointLabels[i] + ": " : std::string())
            + "similarity " + num(p.second, "%.4f");
        s += "<circle class=\"" + std::string(p.second > chart.threshold ? "found" : "missed") + "\" cx=\""
            + num(f.px(p.first)) + "\" cy=\"" + num(f.py(p.second)) + "\" r=\"4\"><title>" + htmlEscape(tip)
            + "</title></circle>\n";
    }
    return s + "</svg>\n";
}

std::string svgHistogram(const Histogram& h, int width, int height)
{
    double vMin = 0, vMax = 0;
    if (!h.values.empty()) {
        auto [lo, hi] = std::minmax_element(h.values.begin(), h.values.end());
        vMin = *lo;
        vMax = *hi;
    }
    double lo = std::min({vMin, h.embedded, 0.0});
    double hi = std::max({vMax, h.embedded, h.threshold});
    const double pad = 0.03 * (hi - lo);
    lo -= pad;
    hi += pad;
    // Bins fine enough to show the shape of the never-embedded ones.
    double binWidth = (vMax - vMin) / 40.0;
    if (!(binWidth > 0)) binWidth = (hi - lo) / 100.0;
    const int bins = std::clamp(int(std::ceil((hi - lo) / binWidth)), 1, 600);
    binWidth = (hi - lo) / bins;
    std::vector<int> counts(std::size_t(bins), 0);
    for (double v : h.values)
        counts[std::size_t(std::clamp(int((v - lo) / binWidth), 0, bins - 1))]++;
    const int maxCount = std::max(1, *std::max_element(counts.begin(), counts.end()));

    Frame f{lo, hi, 0, double(maxCount), double(width), double(height)};
    std::vector<double> yTicks;
    const double yStep = std::max(1.0, std::ceil(maxCount / 4.0));
    for (double t = 0; t <= maxCount; t += yStep)
        yTicks.push_back(t);
    std::string s = open(h.title, width, height) + axes(f, yTicks, "%.0f", "similarity", "watermarks");
    for (double t = std::ceil(lo * 10) / 10; t <= hi; t += 0.1) {
        s += line(f.px(t), height - kBottom, f.px(t), height - kBottom + 4, "axis");
        s += text(f.px(t), height - kBottom + 16, num(std::abs(t) < 1e-9 ? 0.0 : t, "%.1f"), "tick");
    }
    for (int b = 0; b < bins; ++b) {
        if (counts[std::size_t(b)] == 0) continue;
        const double x = f.px(lo + b * binWidth);
        const double w = std::max(1.0, f.px(lo + (b + 1) * binWidth) - x);
        const double y = f.py(counts[std::size_t(b)]);
        s += "<rect class=\"bar\" x=\"" + num(x) + "\" y=\"" + num(y) + "\" width=\"" + num(w)
            + "\" height=\"" + num(height - kBottom - y) + "\"><title>" + num(lo + b * binWidth, "%.3f")
            + " to " + num(lo + (b + 1) * binWidth, "%.3f") + ": " + std::to_string(counts[std::size_t(b)])
            + "</title></rect>\n";
    }
    auto marker = [&](double v, const char* cls, const std::string& label, double dy) {
        s += line(f.px(v), kTop, f.px(v), height - kBottom, cls);
        const bool right = f.px(v) > width * 0.7;
        s += text(f.px(v) + (right ? -4 : 4), kTop + dy, label, "note", right ? "end" : "start");
    };
    marker(h.threshold, "threshold", "threshold " + num(h.threshold, "%g"), 12);
    marker(h.percentile99, "p99", "99th percentile " + num(h.percentile99, "%.3f"), 28);
    marker(h.embedded, "embedded", "embedded watermark " + num(h.embedded, "%.4f"), 44);
    return s + "</svg>\n";
}

std::string svgPairedBars(const PairedBars& chart, int width)
{
    constexpr double kLabels = 300, kBar = 9, kGap = 10, kLegend = 22;
    const std::size_t n = chart.labels.size();
    const double height = kTop + kLegend + double(n) * (2 * kBar + kGap) + kBottom;
    double lo = -0.25;
    for (const auto* values : {&chart.without, &chart.with})
        for (double v : *values)
            if (std::isfinite(v)) lo = std::min(lo, std::floor(v * 4) / 4);
    const double left = kLabels, right = width - kRight;
    auto px = [&](double v) { return left + (std::clamp(v, lo, 1.0) - lo) / (1.0 - lo) * (right - left); };
    const double top = kTop + kLegend, bottom = height - kBottom;

    std::string s = open(chart.title, width, height);
    for (double t = lo; t <= 1.0 + 1e-9; t += 0.25) {
        s += line(px(t), top, px(t), bottom, "grid");
        s += text(px(t), bottom + 16, num(t, "%.2f"), "tick");
    }
    s += line(left, bottom, right, bottom, "axis");
    s += line(px(0), top, px(0), bottom, "axis");
    s += text((left + right) / 2, height - 6, "similarity", "label");
    // The legend: the pale bar as the picture stands, the strong one with registration.
    s += "<rect class=\"bar plainbar\" x=\"" + num(left) + "\" y=\"" + num(kTop + 2)
        + "\" width=\"14\" height=\"" + num(kBar) + "\"/>\n"
        + text(left + 20, kTop + 10, "as it stands", "note", "start");
    s += "<rect class=\"bar\" x=\"" + num(left + 130) + "\" y=\"" + num(kTop + 2)
        + "\" width=\"14\" height=\"" + num(kBar) + "\"/>\n"
        + text(left + 150, kTop + 10, "with registration", "note", "start");
    for (std::size_t i = 0; i < n; ++i) {
        const double y = top + double(i) * (2 * kBar + kGap) + kGap / 2;
        s += text(left - 8, y + kBar + 4, chart.labels[i], "tick", "end");
        const double values[2] = {
            i < chart.without.size() ? chart.without[i] : NAN, i < chart.with.size() ? chart.with[i] : NAN};
        for (int k = 0; k < 2; ++k) {
            const double v = values[k];
            const double by = y + k * kBar;
            if (!std::isfinite(v)) {
                s += text(px(0) + 4, by + kBar - 1, "n/a (another size)", "note", "start");
                continue;
            }
            const double x0 = std::min(px(0), px(v)), x1 = std::max(px(0), px(v));
            const std::string tip
                = chart.labels[i] + (k ? ", with registration: " : ", as it stands: ") + num(v, "%.4f");
            s += "<rect class=\"" + std::string(k ? "bar" : "bar plainbar") + "\" x=\"" + num(x0) + "\" y=\""
                + num(by) + "\" width=\"" + num(std::max(1.0, x1 - x0)) + "\" height=\"" + num(kBar - 1)
                + "\"><title>" + htmlEscape(tip) + "</title></rect>\n";
        }
    }
    s += line(px(chart.threshold), top, px(chart.threshold), bottom, "threshold");
    s += text(px(chart.threshold) + 4, top - 4, "threshold " + num(chart.threshold, "%g"), "note", "start");
    return s + "</svg>\n";
}

} // namespace pelinor::cli
