// The quality floor measured: for each picture, the marked picture's PSNR, banding figure and
// SSIM at alpha 0.1 and at embed's default (the floor), and the share of evaluate's battery
// (attacks and copies, with registration) found by evidence at both. Prints a Markdown table;
// with --crops DIR also writes, per picture, its flattest 128 x 128 area as original, alpha
// 0.1 and default side by side (PNG).
//
//   build/bin/floor_figures [--crops DIR] [--max-banding L] PICTURE...
//
// (--max-banding tries another banding limit for the default than embed's 4 levels.)
//
// Two synthetic pictures made here are always added: a landscape that is mostly smooth sky
// (the hardest case for banding) and a soft face-like oval on a plain ground.
#include "image/image_io.h"
#include "lab/evaluation.h"
#include "watermark/embed.h"
#include "watermark/luminance.h"
#include "watermark/strength.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

using namespace pelinor;

namespace {

PictureRef synthetic(int w, int h, const auto& value)
{
    PictureRef p = Picture::create(w, h, 24, true);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                p->bits()[std::size_t(y) * p->stride() + 3 * std::size_t(x) + std::size_t(c)]
                    = std::uint8_t(std::clamp(int(std::lround(value(x, y, c))), 0, 255));
    return p;
}

// A landscape: a sky from blue to pale near the horizon with soft clouds over the upper
// two thirds, and hills with grass-like texture below.
PictureRef skyPicture()
{
    std::mt19937 rng(7);
    std::normal_distribution<double> grain(0.0, 0.8);
    std::uniform_real_distribution<double> texture(-25.0, 25.0);
    return synthetic(640, 427, [&](int x, int y, int c) {
        const double t = y / 427.0;
        const double ridge = 280 + 30 * std::sin(x / 70.0) + 15 * std::sin(x / 23.0 + 1.0);
        if (y > ridge) {
            const double hill[3] = {40, 110, 70};
            return hill[c] * (1.0 - 0.3 * (y - ridge) / 150.0) + 20 * std::sin(x * 0.9 + y * 0.4)
                + texture(rng);
        }
        double cloud = 0;
        const double centres[3][2] = {{420, 110}, {150, 70}, {300, 190}};
        for (const auto& cc : centres)
            cloud += 35.0 * std::exp(-(std::pow((x - cc[0]) / 90.0, 2) + std::pow((y - cc[1]) / 35.0, 2)));
        const double base[3] = {200 - 30 * t, 150 + 40 * t, 90 + 80 * t}; // blue, green, red
        return base[c] + cloud + grain(rng);
    });
}

// A smooth skin-toned oval with soft shading on a plain grey ground, with a few dark strokes.
PictureRef facePicture()
{
    std::mt19937 rng(11);
    std::normal_distribution<double> grain(0.0, 1.0);
    return synthetic(512, 512, [&](int x, int y, int c) {
        const double dx = (x - 256) / 150.0, dy = (y - 270) / 200.0;
        const double r = dx * dx + dy * dy;
        const double skin[3] = {130, 160, 215};
        const double ground[3] = {110, 112, 115};
        double v = r < 1 ? skin[c] * (1.0 - 0.25 * r) - 12 * dx : ground[c] + 10.0 * y / 512.0;
        if ((std::abs(y - 220) < 3 && std::abs(std::abs(x - 256) - 60) < 25)
            || (std::abs(y - 360) < 2 && std::abs(x - 256) < 50))
            v = 50;
        return v + grain(rng);
    });
}

Watermark key(double alpha)
{
    Watermark w{"\"CXSG\"", 1000, alpha, 0.0, 1.0, std::vector<double>(1000)};
    std::mt19937 rng(2024);
    std::normal_distribution<double> normal(0.0, 1.0);
    for (double& v : w.values)
        v = normal(rng);
    return w;
}

Plane lumaOf(const Picture& p)
{
    Plane y;
    anyLuminanceInto(p, y);
    return y;
}

// SSIM of the luminance (Wang et al.: Gaussian window, sigma 1.5, 11 x 11; K1 0.01, K2 0.03).
double ssim(const Picture& a, const Picture& b)
{
    const Plane x = lumaOf(a), y = lumaOf(b);
    const int w = x.n1(), h = x.n2();
    double kernel[11], sum = 0;
    for (int i = 0; i < 11; ++i)
        sum += kernel[i] = std::exp(-(i - 5) * (i - 5) / (2 * 1.5 * 1.5));
    for (double& k : kernel)
        k /= sum;
    const auto blur = [&](const auto& f) {
        std::vector<double> rows(std::size_t(w) * h), out(std::size_t(w) * h);
        for (int j = 0; j < h; ++j)
            for (int i = 5; i < w - 5; ++i) {
                double s = 0;
                for (int k = 0; k < 11; ++k)
                    s += kernel[k] * f(i + k - 5, j);
                rows[std::size_t(j) * w + i] = s;
            }
        for (int j = 5; j < h - 5; ++j)
            for (int i = 5; i < w - 5; ++i) {
                double s = 0;
                for (int k = 0; k < 11; ++k)
                    s += kernel[k] * rows[std::size_t(j + k - 5) * w + i];
                out[std::size_t(j) * w + i] = s;
            }
        return out;
    };
    const auto mx = blur([&](int i, int j) { return x(i, j); });
    const auto my = blur([&](int i, int j) { return y(i, j); });
    const auto xx = blur([&](int i, int j) { return x(i, j) * x(i, j); });
    const auto yy = blur([&](int i, int j) { return y(i, j) * y(i, j); });
    const auto xy = blur([&](int i, int j) { return x(i, j) * y(i, j); });
    const double c1 = std::pow(0.01 * 255, 2), c2 = std::pow(0.03 * 255, 2);
    double total = 0;
    long long n = 0;
    for (int j = 5; j < h - 5; ++j)
        for (int i = 5; i < w - 5; ++i) {
            const std::size_t at = std::size_t(j) * w + i;
            const double vx = xx[at] - mx[at] * mx[at], vy = yy[at] - my[at] * my[at];
            const double cxy = xy[at] - mx[at] * my[at];
            total += (2 * mx[at] * my[at] + c1) * (2 * cxy + c2)
                / ((mx[at] * mx[at] + my[at] * my[at] + c1) * (vx + vy + c2));
            ++n;
        }
    return total / double(n);
}

// Rows of the battery and copies found (with registration, as detect does by default).
std::pair<int, int> found(const Picture& original, const Watermark& w, const QualityFloor& floor)
{
    EvaluationOptions options;
    options.rule = DecisionRule::byEvidence();
    options.randomCount = 0;
    options.floor = floor;
    const Evaluation ev = evaluateRobustness(original, w, options);
    int rows = 0, hits = 0;
    for (const EvaluationRow& row : ev.rows)
        if (row.kind == RowKind::Attacked || row.kind == RowKind::Copy) {
            ++rows;
            hits += row.registered.found ? 1 : 0;
            if (!row.registered.found && floor.minPsnr > 0)
                std::fprintf(stderr, "lost at the default: %s (similarity %.3f)\n", row.label.c_str(),
                    row.registered.similarity);
        }
    return {hits, rows};
}

// The top-left corner of the 128 x 128 window (on a 16-pixel grid) with the most flat 8 x 8 blocks.
std::pair<int, int> flattestWindow(const Picture& p)
{
    const Plane y = lumaOf(p);
    const int bw = y.n1() / 8, bh = y.n2() / 8;
    std::vector<int> flat(std::size_t(bw) * bh, 0);
    for (int bx = 0; bx < bw; ++bx)
        for (int by = 0; by < bh; ++by) {
            double s = 0, q = 0;
            for (int i = 0; i < 8; ++i)
                for (int j = 0; j < 8; ++j) {
                    const double v = y(8 * bx + i, 8 * by + j);
                    s += v;
                    q += v * v;
                }
            flat[std::size_t(by) * bw + bx]
                = q / 64 - (s / 64) * (s / 64) <= kFlatBlockDeviation * kFlatBlockDeviation;
        }
    int best = -1, bestX = 0, bestY = 0;
    for (int x = 0; x + 16 <= bw; x += 2)
        for (int yy = 0; yy + 16 <= bh; yy += 2) {
            int count = 0;
            for (int i = 0; i < 16; ++i)
                for (int j = 0; j < 16; ++j)
                    count += flat[std::size_t(yy + j) * bw + x + i];
            if (count > best) best = count, bestX = x * 8, bestY = yy * 8;
        }
    // Plane rows count from the bottom of the picture; the crop is taken in visual rows.
    return {bestX, p.height() - bestY - 128};
}

void writeCrops(
    const std::string& path, const Picture& original, const Picture& strong, const Picture& gentle)
{
    const auto [x0, y0] = flattestWindow(original);
    constexpr int kSide = 128, kGap = 4;
    PictureRef out = Picture::create(3 * kSide + 2 * kGap, kSide, 24, true);
    std::fill(out->bits(), out->bits() + out->stride() * std::size_t(kSide), std::uint8_t(255));
    const Picture* panels[] = {&original, &strong, &gentle};
    for (int k = 0; k < 3; ++k)
        for (int y = 0; y < kSide; ++y) {
            const Picture& p = *panels[k];
            const std::uint8_t* from
                = p.bits() + p.stride() * std::size_t(p.storedRow(y0 + y)) + 3 * std::size_t(x0);
            std::copy(from, from + 3 * kSide,
                out->bits() + out->stride() * std::size_t(y) + 3 * std::size_t(k * (kSide + kGap)));
        }
    savePicture(*out, path);
}

} // namespace

int main(int argc, char** argv)
{
    std::string crops;
    QualityFloor floor;
    std::vector<std::pair<std::string, PictureRef>> pictures;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--max-banding" && i + 1 < argc) {
            floor.maxBanding = std::stod(argv[++i]);
            continue;
        }
        if (arg == "--crops" && i + 1 < argc) {
            crops = argv[++i];
            continue;
        }
        pictures.emplace_back(std::filesystem::path(arg).stem().string(), loadPicture(arg));
    }
    pictures.emplace_back("sky (synthetic)", skyPicture());
    pictures.emplace_back("face (synthetic)", facePicture());
    if (!crops.empty()) std::filesystem::create_directories(crops);

    const Watermark w = key(0.1);
    std::printf("| picture | PSNR α 0.1 → default | banding (levels) | SSIM | α default | found by evidence "
                "α 0.1 → default |\n|---|---:|---:|---:|---:|---:|\n");
    int hitsStrong = 0, hitsGentle = 0, rowsAll = 0;
    for (const auto& [name, picture] : pictures) {
        const EmbedResult strong = embedWatermark(*picture, w);
        const FloorEmbed gentle = embedWithinFloor(*picture, w, floor, Depths::Only24Bit);
        const auto [hs, rows] = found(*picture, w, QualityFloor{0.0, kDefaultMaxBanding});
        const auto [hg, rowsG] = found(*picture, w, floor);
        hitsStrong += hs;
        hitsGentle += hg;
        rowsAll += rows;
        std::printf("| %s | %.1f → %.1f dB | %.1f → %.1f | %.4f → %.4f | %.3f | %d → %d of %d |\n",
            name.c_str(), strong.psnr, gentle.embedded.psnr, banding(*picture, *strong.marked),
            gentle.banding, ssim(*picture, *strong.marked), ssim(*picture, *gentle.embedded.marked),
            gentle.alpha, hs, hg, rows);
        std::fflush(stdout);
        if (!crops.empty()) {
            std::string file = name.substr(0, name.find(' '));
            writeCrops(crops + "/flat-" + file + ".png", *picture, *strong.marked, *gentle.embedded.marked);
        }
        (void)rowsG;
    }
    std::printf("| **all** | | | | | **%d → %d of %d** (%.1f %% → %.1f %%) |\n", hitsStrong, hitsGentle,
        rowsAll, 100.0 * hitsStrong / rowsAll, 100.0 * hitsGentle / rowsAll);
    return 0;
}
