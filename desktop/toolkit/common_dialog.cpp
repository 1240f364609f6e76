#include "desktop/toolkit/common_dialog.h"

#include <QStringList>

namespace pelinor {

std::optional<QString> CommonDialog::show(QWidget* parent, FileDialogMode mode)
{
    FileDialogRequest request;
    request.mode = mode;
    request.title = m_title;
    request.filter = toQtFilter(m_filter);
    request.startPath = m_fileName;
    std::optional<QString> chosen = m_ui.chooseFile(parent, request);
    if (chosen) {
        m_fileName = *chosen;
        m_ui.storePath(m_fileName);
    }
    return chosen;
}

QString toQtFilter(const QString& filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString description = parts[i].trimmed();
        // Qt separates several patterns by blanks, the classic form by semicolons.
        const QString patterns
            = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts).join(QLatin1Char(' '));
        if (description.endsWith(QLatin1Char(')')) && description.contains(QLatin1Char('(')))
            entries << description.left(description.lastIndexOf(QLatin1Char('('))) + QLatin1Char('(')
                    + patterns + QLatin1Char(')');
        else
            entries << description + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return entries.join(QStringLiteral(";;"));
}

} // namespace pelinor
