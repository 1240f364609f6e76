// Window and control geometry is designed in twips (1/1440 inch); the screen's
// logical DPI turns it into pixels (15 twips per pixel at 96 dpi).
#pragma once

#include <QFont>
#include <QRect>

class QWidget;

namespace pelinor {

// Twips per pixel for the screen `widget` is on (the primary screen for nullptr).
double twipsPerPixelX(const QWidget* widget);
double twipsPerPixelY(const QWidget* widget);

// At a given logical DPI: rounded to the nearest pixel (halves away from zero), never cut.
int twipsToPixels(double twips, double dpi);
double pixelsToTwips(int pixels, double dpi);

int twipsToPixelsX(double twips, const QWidget* widget);
int twipsToPixelsY(double twips, const QWidget* widget);
double pixelsToTwipsX(int pixels, const QWidget* widget);
double pixelsToTwipsY(int pixels, const QWidget* widget);

// left, top, width, height in twips -> a rectangle in pixels.
QRect twipsRect(int left, int top, int width, int height, const QWidget* widget);

// The forms' twips sizes were made for an 8-point sans serif of Arial's widths;
// the common wider desktop fonts would clip their labels.
QFont formFont();
// Gives `form` that font; its controls inherit it.
void useFormFont(QWidget* form);

// Places `widget` at a rectangle given in twips in its parent's coordinates.
void placeTwips(QWidget* widget, int left, int top, int width, int height);

} // namespace pelinor
