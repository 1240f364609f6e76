#include "desktop/toolkit/twips.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <cmath>

namespace pelinor {

namespace {

constexpr double kTwipsPerInch = 1440.0;

QScreen* screenOf(const QWidget* widget)
{
    QScreen* screen = widget != nullptr ? widget->screen() : nullptr;
    return screen != nullptr ? screen : QGuiApplication::primaryScreen();
}

double dpiX(const QWidget* widget)
{
    const QScreen* screen = screenOf(widget);
    const double dpi = screen != nullptr ? screen->logicalDotsPerInchX() : 96.0;
    return dpi > 0.0 ? dpi : 96.0;
}

double dpiY(const QWidget* widget)
{
    const QScreen* screen = screenOf(widget);
    const double dpi = screen != nullptr ? screen->logicalDotsPerInchY() : 96.0;
    return dpi > 0.0 ? dpi : 96.0;
}

} // namespace

double twipsPerPixelX(const QWidget* widget)
{
    return kTwipsPerInch / dpiX(widget);
}
double twipsPerPixelY(const QWidget* widget)
{
    return kTwipsPerInch / dpiY(widget);
}

int twipsToPixels(double twips, double dpi)
{
    return static_cast<int>(std::lround(twips / (kTwipsPerInch / dpi)));
}

double pixelsToTwips(int pixels, double dpi)
{
    return pixels * (kTwipsPerInch / dpi);
}

int twipsToPixelsX(double twips, const QWidget* widget)
{
    return twipsToPixels(twips, dpiX(widget));
}

int twipsToPixelsY(double twips, const QWidget* widget)
{
    return twipsToPixels(twips, dpiY(widget));
}

double pixelsToTwipsX(int pixels, const QWidget* widget)
{
    return pixelsToTwips(pixels, dpiX(widget));
}
double pixelsToTwipsY(int pixels, const QWidget* widget)
{
    return pixelsToTwips(pixels, dpiY(widget));
}

QRect twipsRect(int left, int top, int width, int height, const QWidget* widget)
{
    return QRect(twipsToPixelsX(left, widget), twipsToPixelsY(top, widget), twipsToPixelsX(width, widget),
        twipsToPixelsY(height, widget));
}

QFont formFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
        QStringLiteral("Nimbus Sans"), QStringLiteral("Helvetica")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.0);
    return font;
}

void useFormFont(QWidget* form)
{
    form->setFont(formFont());
}

void placeTwips(QWidget* widget, int left, int top, int width, int height)
{
    widget->setGeometry(twipsRect(left, top, width, height, widget));
}

} // namespace pelinor
