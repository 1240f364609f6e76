// Numbers typed into the dialogs and shown to the user, in the user's locale.
#pragma once

#include <QLocale>
#include <QString>
#include <cstdint>
#include <optional>

namespace pelinor {

// A finite double in `locale`'s notation (blanks around it allowed).
std::optional<double> parseLocaleDouble(const QString& text, const QLocale& locale);

// A 32-bit signed whole number; a fraction is rounded to the nearest, ties to even.
std::optional<std::int32_t> parseLocaleInt32(const QString& text, const QLocale& locale);

// Up to 15 significant digits, the locale's decimal separator, no group separators,
// a leading "-" when negative, exponent notation for very large or small magnitudes.
QString formatForDisplay(double value, const QLocale& locale);

} // namespace pelinor
