#include "desktop/toolkit/numbers.h"

#include <cfenv>
#include <cmath>
#include <limits>

namespace pelinor {

std::optional<double> parseLocaleDouble(const QString& text, const QLocale& locale)
{
    bool ok = false;
    const double value = locale.toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<std::int32_t> parseLocaleInt32(const QString& text, const QLocale& locale)
{
    const std::optional<double> value = parseLocaleDouble(text, locale);
    if (!value) return std::nullopt;
    // nearbyint rounds in the current mode, which is to nearest with ties to even.
    const double rounded = std::nearbyint(*value);
    if (rounded < std::numeric_limits<std::int32_t>::min()
        || rounded > std::numeric_limits<std::int32_t>::max())
        return std::nullopt;
    return static_cast<std::int32_t>(rounded);
}

QString formatForDisplay(double value, const QLocale& locale)
{
    // The C form has exactly the shape wanted ("-0.25", "1E-07"); only the decimal
    // separator follows the locale. Qt's own locale formatting would bring group
    // separators and, in some locales, a typographic minus.
    QString text = QString::number(value, 'G', 15);
    text.replace(QLatin1Char('.'), locale.decimalPoint());
    return text;
}

} // namespace pelinor
