// Small inline SVG charts for the evaluation report: no scripts, no external resources.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace pelinor::cli {

// Escapes text for HTML and SVG content and attribute values.
std::string htmlEscape(const std::string& text);

struct LineChart {
    std::string title;
    std::string xLabel;
    std::vector<std::pair<double, double>> points; // (x, similarity), drawn in the given order
    std::vector<std::string> pointLabels; // tooltips, one per point (optional)
    double threshold = 0.7;
    bool reverseX = false; // larger x on the left (e.g. JPEG quality falling to the right)
    bool logX = false; // logarithmic x axis (x > 0), for levels 256, 32, 8
};

// Similarity (y, from -0.25 to 1) against a parameter, with the threshold drawn.
std::string svgLineChart(const LineChart& chart, int width = 420, int height = 260);

struct Histogram {
    std::string title;
    std::vector<double> values; // the never-embedded watermarks' similarities
    double embedded = 0.0; // the embedded watermark's similarity, marked by a line
    double threshold = 0.7;
    double percentile99 = 0.0;
};

std::string svgHistogram(const Histogram& histogram, int width = 860, int height = 280);

// Two bars per attack: the similarity as the picture stands and with registration. A
// value that does not exist (NaN: the picture changed size) draws no bar and says so.
struct PairedBars {
    std::string title;
    std::vector<std::string> labels;
    std::vector<double> without; // one per label
    std::vector<double> with;
    double threshold = 0.7;
};

std::string svgPairedBars(const PairedBars& chart, int width = 860);

} // namespace pelinor::cli
