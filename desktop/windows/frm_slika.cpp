#include "desktop/windows/frm_slika.h"

#include "base/error.h"
#include "desktop/toolkit/picture_area.h"
#include "desktop/toolkit/texts.h"
#include "desktop/toolkit/twips.h"
#include "desktop/toolkit/ui_services.h"
#include "image/image_io.h"
#include "watermark/detect.h"
#include "watermark/embed.h"
#include "watermark/watermark_file.h"

#include <QCloseEvent>
#include <QMdiArea>
#include <QRegion>
#include <QStyle>
#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

namespace pelinor {

int layoutOffset(double outerTwips, double areaTwips)
{
    // nearbyint rounds to nearest with ties to even; C++ division truncates toward zero.
    const long long difference = std::llround(std::nearbyint(outerTwips - areaTwips));
    return static_cast<int>(difference / 2);
}

namespace {

// The title bars (the top `step` pixels) of the windows in an area, each as far as it is in
// sight under the windows above it, and the question whether a new window on top would hide
// one that offers a grip now. A bar hidden already, by the user's own arrangement, is no bar
// to placing a window.
class TitleBars {
public:
    TitleBars(const QList<QRect>& windows, QSize room, int step)
        : m_grip(std::max(step / 4, 2))
    {
        for (qsizetype i = 0; i < windows.size(); ++i) {
            QRegion bar(
                QRect(windows[i].topLeft(), QSize(windows[i].width(), step)) & QRect(QPoint(0, 0), room));
            for (qsizetype above = i + 1; above < windows.size() && !bar.isEmpty(); ++above)
                bar -= windows[above];
            if (hasGrip(bar)) m_bars << bar;
        }
    }

    // How many bars that offer a grip now a window at `place` would leave without one.
    int hiddenBy(const QRect& place) const
    {
        return int(std::count_if(
            m_bars.begin(), m_bars.end(), [&](const QRegion& bar) { return !hasGrip(bar - place); }));
    }

private:
    // Whether a square of m_grip pixels, enough to take hold of, is in sight.
    bool hasGrip(const QRegion& bar) const
    {
        for (const QRect& part : bar)
            if ((QRegion(QRect(part.topLeft(), QSize(m_grip, m_grip))) - bar).isEmpty()) return true;
        return false;
    }

    int m_grip;
    QList<QRegion> m_bars;
};

} // namespace

QPoint cascadePosition(const QList<QRect>& windows, QSize size, QSize room, int step)
{
    step = std::max(step, 2);
    const QRect area(QPoint(0, 0), room);
    if (windows.isEmpty() || !area.contains(QRect(QPoint(0, 0), size))) return {0, 0};
    const TitleBars bars(windows, room, step);
    // The first place that hides no title bar, else the one that hides fewest.
    QPoint best(0, 0);
    int fewest = std::numeric_limits<int>::max();
    const auto hidesNone = [&](QPoint at) {
        if (!area.contains(QRect(at, size))) return false;
        const int hidden = bars.hiddenBy(QRect(at, size));
        if (hidden < fewest) {
            fewest = hidden;
            best = at;
        }
        return hidden == 0;
    };
    // One step on from the top window; past the bottom, the top of the next diagonal, one
    // step right of it, so that the windows before keep their title bars' left ends.
    const QPoint last = windows.last().topLeft();
    if (hidesNone(last + QPoint(step, step)) || hidesNone(QPoint(last.x() + step, 0))) return best;
    // The diagonals from the top edge, then from the left edge, half a step apart; then
    // anywhere, a grip apart, for a crowded area.
    const int half = step / 2;
    for (int x0 = 0; x0 + size.width() <= room.width(); x0 += half)
        for (QPoint at(x0, 0); area.contains(QRect(at, size)); at += QPoint(step, step))
            if (hidesNone(at)) return best;
    for (int y0 = half; y0 + size.height() <= room.height(); y0 += half)
        for (QPoint at(0, y0); area.contains(QRect(at, size)); at += QPoint(step, step))
            if (hidesNone(at)) return best;
    const int fine = std::max(step / 4, 2);
    for (int y = 0; y + size.height() <= room.height(); y += fine)
        for (int x = 0; x + size.width() <= room.width(); x += fine)
            if (hidesNone(QPoint(x, y))) return best;
    return best;
}

std::optional<QPoint> besidePosition(
    const QList<QRect>& windows, const QRect& source, QSize size, QSize room, int step)
{
    if (size.width() > room.width() || size.height() > room.height()) return std::nullopt;
    const TitleBars bars(windows, room, std::max(step, 2));
    const int y = std::clamp(source.top(), 0, room.height() - size.height());
    const int overlap = size.width() / 4;
    const auto fits = [&](int x) { return bars.hiddenBy(QRect(QPoint(x, y), size)) == 0; };
    // Right of it, pushed back from the area's edge by up to the overlap allowed; then left.
    if (const int x = std::min(source.right() + 1, room.width() - size.width());
        x >= source.right() + 1 - overlap && fits(x))
        return QPoint(x, y);
    if (const int x = std::max(source.left() - size.width(), 0);
        x + size.width() <= source.left() + overlap && fits(x))
        return QPoint(x, y);
    return std::nullopt;
}

FrmSlika::FrmSlika(UiServices& ui, QWidget* parent, WindowBudget budget)
    : QMdiSubWindow(parent)
    , m_ui(ui)
    , m_budget(std::move(budget))
    , m_client(new QWidget)
    , m_picSlika(new PictureArea(m_client))
    , m_picBuffer(new PictureArea(m_client))
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("Form1"));
    setWidget(m_client);
    m_client->setAutoFillBackground(true);
    m_client->setMinimumSize(1, 1);
    m_picSlika->setObjectName(QStringLiteral("picSlika"));
    m_picBuffer->setObjectName(QStringLiteral("picBuffer"));
    placeTwips(m_picSlika, 240, 240, 7335, 7095);
    placeTwips(m_picBuffer, 240, 240, 7335, 7095);
    // The working picture is never displayed.
    m_picBuffer->hide();
}

void FrmSlika::addTo(QMdiArea* area, FrmSlika* window, const QMdiSubWindow* source)
{
    // The first size is ours to choose (the window never follows its picture's
    // size): half the area's width, so that an image and its marked copy can stand
    // side by side.
    QSize size(twipsToPixelsX(6000, window), twipsToPixelsY(4500, window));
    if (area == nullptr) {
        window->resize(size);
        return;
    }
    // The area's own placement fills gaps first and puts later windows below its
    // visible part; ours keeps each one in sight, and every title bar under it.
    QList<QRect> windows;
    for (const QMdiSubWindow* other : area->subWindowList(QMdiArea::StackingOrder))
        if (other->isVisible() && !other->isMinimized() && !other->isMaximized())
            windows << other->geometry();
    area->addSubWindow(window);
    const QSize room = area->viewport()->size();
    if (room.width() > 200 && room.height() > 150) size = QSize(room.width() / 2, room.height() * 3 / 4);
    window->resize(size);
    const int step = window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window);
    std::optional<QPoint> place;
    if (source != nullptr && source->isVisible() && !source->isMinimized() && !source->isMaximized())
        place = besidePosition(windows, source->geometry(), size, room, step);
    window->move(place ? *place : cascadePosition(windows, size, room, step));
}

const PictureRef& FrmSlika::shownPicture() const
{
    return m_picSlika->picture();
}
const PictureRef& FrmSlika::workingPicture() const
{
    return m_picBuffer->picture();
}

void FrmSlika::setPictures(PictureRef shown, PictureRef working)
{
    m_picSlika->setPicture(std::move(shown));
    m_picBuffer->setPicture(std::move(working));
    m_picBuffer->hide();
    m_picSlika->move(0, 0);
    Form_Resize();
}

PixelBudget::Lease FrmSlika::takePixels(std::int64_t pixels) const
{
    if (!m_budget) return {};
    if (std::optional<PixelBudget::Lease> lease = m_budget->tryAcquire(pixels)) return std::move(*lease);
    throw Error(err::PixelBudget,
        "Out of memory: a picture of " + megapixelText(pixels) + " megapixels does not fit in the limit of "
            + megapixelText(m_budget->total()) + " megapixels for all windows: the open windows hold "
            + megapixelText(m_budget->used()) + " megapixels");
}

void FrmSlika::OtvoriSliku(const QString& ImeSlike)
{
    // Load before touching the window, so that a file that cannot be read leaves
    // nothing half-done; the copy keeps the working picture independent. The picture's
    // pixels are taken from the header, before the decoder allocates any.
    PixelBudget::Lease held;
    const std::int64_t limit = m_budget ? m_budget->total() : kDefaultMaxPixels;
    PictureRef shown = loadPicture(
        ImeSlike.toStdString(), PixelLimit(limit, [&](std::int64_t pixels) { held = takePixels(pixels); }));
    PictureRef working = shown->clone();
    setPictures(std::move(shown), std::move(working));
    m_held = std::move(held);
    setWindowTitle(ImeSlike);
}

void FrmSlika::PostaviSliku(const PictureRef& Slika)
{
    setPictures(Slika, Slika);
}

void FrmSlika::SnimiSliku(const QString& dat) const
{
    const PictureRef& shown = shownPicture();
    if (!shown) throw Error(err::InvalidCall, "The window holds no picture");
    savePicture(*shown, dat.toStdString());
}

FrmSlika* FrmSlika::UmetniZig(const QString& ImeZig)
{
    const PictureRef source = shownPicture();
    if (!is24Bit(source.get())) {
        m_ui.message(this, QString::fromUtf8(kOnly24BitText.data(), qsizetype(kOnly24BitText.size())),
            MessageIcon::Critical, text::kAppTitle);
        return nullptr;
    }
    const Watermark watermark = readWatermark(ImeZig.toStdString());
    // Refused before the notice that embedding takes a while: a watermark that gives no mark,
    // a picture too small to hold it, and a marked window the budget has no room for.
    requireUsableWatermark(watermark);
    requireCandidates(source->width(), source->height(), watermark.length);
    PixelBudget::Lease held = takePixels(std::int64_t(source->width()) * source->height());
    m_ui.message(this, text::kEmbedNotice, MessageIcon::Information, text::kNoticeTitle);
    PictureRef marked;
    {
        WaitCursor hourglass(m_ui);
        // The engine writes into a new picture: this window and every earlier
        // marked window keep their pixels.
        marked = embedWatermark(*source, watermark).marked;
    }
    QMdiArea* area = mdiArea();
    auto* window = new FrmSlika(m_ui, nullptr, m_budget);
    window->m_held = std::move(held);
    addTo(area, window, this);
    window->PostaviSliku(marked);
    window->setWindowTitle(text::kMarkedCaption);
    window->show();
    if (area != nullptr) area->setActiveSubWindow(window);
    return window;
}

void FrmSlika::Form_Resize()
{
    const int left = layoutOffset(pixelsToTwipsX(width(), this), pixelsToTwipsX(m_picSlika->width(), this));
    const int top = layoutOffset(pixelsToTwipsY(height(), this), pixelsToTwipsY(m_picSlika->height(), this));
    m_picSlika->move(twipsToPixelsX(left, this), twipsToPixelsY(top, this));
}

void FrmSlika::resizeEvent(QResizeEvent* event)
{
    QMdiSubWindow::resizeEvent(event);
    Form_Resize();
}

void FrmSlika::closeEvent(QCloseEvent* event)
{
    QMdiSubWindow::closeEvent(event);
    if (event->isAccepted()) m_held.reset();
}

} // namespace pelinor
