// What the generation and test dialogs share: no default and no cancel button,
// so neither Enter in a text box nor Escape presses anything.
#pragma once

#include <QDialog>
#include <QKeyEvent>
#include <QPushButton>

namespace pelinor {

class NoCancelDialog : public QDialog {
public:
    using QDialog::QDialog;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        if (event->key() == Qt::Key_Escape) {
            event->ignore();
            return;
        }
        QDialog::keyPressEvent(event);
    }
};

// A push button that is never pressed by Enter.
inline QPushButton* plainButton(QWidget* parent, const QString& name, const QString& caption)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    button->setDefault(false);
    return button;
}

} // namespace pelinor
