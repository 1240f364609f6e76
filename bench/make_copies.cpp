// The everyday copies of the registration figures (not a test): each edit a client's copy
// of a photograph meets, made with OpenCV, written into a folder.
// usage: make_copies PICTURE FOLDER        (scripts/registration_figures.sh runs it)
// Writes rot90.png rot180.png rot270.png flip.png grey.png keystone.png border.png
// letterbox.png vignette.png half.png narrow.png, and the drift figure's exactly resized
// copies: exact-half.png, exact-third.png and exact-075.png (by a factor, area averaging),
// exact-150.png (enlarged by a factor, cubic) and sized-half.png (to half the sides,
// rounded down: the stretch of the whole frame).
#include "image/image_io.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <opencv2/imgproc.hpp>
#include <string>
#include <vector>

using namespace pelinor;

namespace {

cv::Mat toMat(const Picture& p)
{
    const cv::Mat m(p.height(), p.width(), CV_8UC3, const_cast<std::uint8_t*>(p.bits()), p.stride());
    cv::Mat out;
    if (p.topDown())
        out = m.clone();
    else
        cv::flip(m, out, 0);
    return out;
}

void save(const cv::Mat& m, const std::string& path)
{
    const bool grey = m.channels() == 1;
    PictureRef p = Picture::create(m.cols, m.rows, grey ? 8 : 24, true);
    if (grey) p->setSampleFormat({1, false, 8, false});
    for (int y = 0; y < m.rows; ++y)
        for (int x = 0; x < m.cols; ++x)
            for (int c = 0; c < 3; ++c)
                p->bits()[p->stride() * std::size_t(y) + 3 * std::size_t(x) + std::size_t(c)]
                    = grey ? m.at<std::uint8_t>(y, x) : m.at<cv::Vec3b>(y, x)[c];
    savePicture(*p, path);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: make_copies PICTURE FOLDER\n");
        return 2;
    }
    try {
        const cv::Mat m = toMat(*loadPicture(argv[1]));
        const std::string dir = std::string(argv[2]) + "/";
        const int w = m.cols, h = m.rows;
        cv::Mat out;
        cv::rotate(m, out, cv::ROTATE_90_CLOCKWISE);
        save(out, dir + "rot90.png");
        cv::rotate(m, out, cv::ROTATE_180);
        save(out, dir + "rot180.png");
        cv::rotate(m, out, cv::ROTATE_90_COUNTERCLOCKWISE);
        save(out, dir + "rot270.png");
        cv::flip(m, out, 0);
        save(out, dir + "flip.png");
        // A black-and-white copy of another size.
        cv::Mat grey;
        cv::cvtColor(m, grey, cv::COLOR_BGR2GRAY);
        cv::resize(grey, out, cv::Size(), 0.7, 0.7, cv::INTER_AREA);
        save(out, dir + "grey.png");
        // A print photographed at a slant: the top edge 3 % narrower.
        const std::vector<cv::Point2f> from{
            {0, 0}, {float(w - 1), 0}, {float(w - 1), float(h - 1)}, {0, float(h - 1)}};
        const float in = 0.015f * w;
        const std::vector<cv::Point2f> to{
            {in, 0}, {w - 1 - in, 0}, {float(w - 1), float(h - 1)}, {0, float(h - 1)}};
        cv::warpPerspective(m, out, cv::getPerspectiveTransform(from, to), m.size(), cv::INTER_LINEAR);
        save(out, dir + "keystone.png");
        // The centred 85 % of each side, framed by a black border of 4 % of the width.
        // A copy of the region, or copyMakeBorder would take the frame from the picture around it.
        const cv::Mat crop
            = m(cv::Rect(int(0.075 * w), int(0.075 * h), int(0.85 * w), int(0.85 * h))).clone();
        const int b = int(std::lround(0.04 * w));
        cv::copyMakeBorder(crop, out, b, b, b, b, cv::BORDER_CONSTANT, cv::Scalar(0, 0, 0));
        save(out, dir + "border.png");
        // Letterbox bars: the picture in a frame 4:5 taller, black above and below.
        const int bar = std::max(1, (w * 5 / 4 - h) / 2);
        cv::copyMakeBorder(m, out, bar, bar, 0, 0, cv::BORDER_CONSTANT, cv::Scalar(0, 0, 0));
        save(out, dir + "letterbox.png");
        // Vignetting: the light falls by a third towards the corners.
        out = m.clone();
        const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0, r2max = cx * cx + cy * cy;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const double g = 1.0 - 0.33 * ((x - cx) * (x - cx) + (y - cy) * (y - cy)) / r2max;
                for (int c = 0; c < 3; ++c)
                    out.at<cv::Vec3b>(y, x)[c]
                        = cv::saturate_cast<std::uint8_t>(m.at<cv::Vec3b>(y, x)[c] * g);
            }
        save(out, dir + "vignette.png");
        // Halved with linear interpolation, as many web tools do.
        cv::resize(m, out, cv::Size(), 0.5, 0.5, cv::INTER_LINEAR);
        save(out, dir + "half.png");
        cv::resize(m, out, cv::Size(), 0.5, 0.5, cv::INTER_AREA);
        save(out, dir + "exact-half.png");
        cv::resize(m, out, cv::Size(), 1.0 / 3.0, 1.0 / 3.0, cv::INTER_AREA);
        save(out, dir + "exact-third.png");
        cv::resize(m, out, cv::Size(), 0.75, 0.75, cv::INTER_AREA);
        save(out, dir + "exact-075.png");
        cv::resize(m, out, cv::Size(), 1.5, 1.5, cv::INTER_CUBIC);
        save(out, dir + "exact-150.png");
        cv::resize(m, out, cv::Size(w / 2, h / 2), 0, 0, cv::INTER_AREA);
        save(out, dir + "sized-half.png");
        // Narrowed: the width by 0.9 only.
        cv::resize(m, out, cv::Size(int(std::lround(0.9 * w)), h), 0, 0, cv::INTER_AREA);
        save(out, dir + "narrow.png");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "make_copies: %s\n", e.what());
        return 2;
    }
    return 0;
}
