// cdlDat: the main window's one file dialog, shared by every file choice in the
// program. It keeps the settings each user gives it and the last chosen path,
// which never clears, so every showing starts from the last file chosen anywhere;
// the path is also kept between runs (through UiServices).
#pragma once

#include "desktop/toolkit/ui_services.h"

#include <QString>
#include <optional>

class QWidget;

namespace pelinor {

class CommonDialog {
public:
    explicit CommonDialog(UiServices& ui)
        : m_ui(ui)
        , m_fileName(ui.storedPath())
    {
    }

    void setTitle(const QString& title) { m_title = title; }
    // "description|pattern|description|pattern...", converted for Qt when shown.
    void setFilter(const QString& filter) { m_filter = filter; }

    // The chosen path, or nothing when the user cancelled.
    std::optional<QString> showOpen(QWidget* parent) { return show(parent, FileDialogMode::Open); }
    std::optional<QString> showSave(QWidget* parent) { return show(parent, FileDialogMode::Save); }

    const QString& title() const { return m_title; }
    const QString& filter() const { return m_filter; }
    const QString& fileName() const { return m_fileName; }

private:
    std::optional<QString> show(QWidget* parent, FileDialogMode mode);

    UiServices& m_ui;
    QString m_fileName;
    QString m_title;
    QString m_filter;
};

// "Bitmape (*.bmp)|*.bmp" -> "Bitmape (*.bmp)"; several pairs are joined by ";;".
// A description without its pattern in parentheses gets it appended.
QString toQtFilter(const QString& filter);

} // namespace pelinor
