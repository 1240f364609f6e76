// A scripted stand-in for the user: records every message, file dialog and
// hourglass change in one log, and answers file dialogs from a queue.
#pragma once

#include <QString>
#include <deque>
#include <optional>
#include <vector>

#include "app/ui_services.h"

namespace pelinor::test {

struct Recorded {
    enum Kind { Message, FileDialog, WaitOn, WaitOff };
    Kind kind = Message;
    QString text;
    MessageIcon icon = MessageIcon::Information;
    QString title;
    FileDialogRequest request;
    int waitDepth = 0;  // hourglass depth when the entry was recorded
};

class FakeUi final : public UiServices {
public:
    void message(QWidget*, const QString& text, MessageIcon icon, const QString& title) override
    {
        log.push_back(Recorded{Recorded::Message, text, icon, title, {}, m_waitDepth});
    }

    std::optional<QString> chooseFile(QWidget*, const FileDialogRequest& request) override
    {
        log.push_back(Recorded{Recorded::FileDialog, {}, {}, {}, request, m_waitDepth});
        if (answers.empty()) return std::nullopt;  // an unscripted dialog is cancelled
        const std::optional<QString> next = answers.front();
        answers.pop_front();
        return next;
    }

    void beginWait() override { log.push_back(Recorded{Recorded::WaitOn, {}, {}, {}, {}, ++m_waitDepth}); }
    void endWait() override { log.push_back(Recorded{Recorded::WaitOff, {}, {}, {}, {}, --m_waitDepth}); }
    QLocale numberLocale() const override { return locale; }

    // Queue the user's answer to the next file dialog: a path, or Cancel.
    void answer(const QString& path) { answers.push_back(path); }
    void cancel() { answers.push_back(std::nullopt); }

    std::vector<Recorded> ofKind(Recorded::Kind kind) const
    {
        std::vector<Recorded> out;
        for (const Recorded& entry : log)
            if (entry.kind == kind) out.push_back(entry);
        return out;
    }
    std::vector<Recorded> messages() const { return ofKind(Recorded::Message); }
    std::vector<Recorded> dialogs() const { return ofKind(Recorded::FileDialog); }
    int waitDepth() const { return m_waitDepth; }

    std::vector<Recorded> log;
    std::deque<std::optional<QString>> answers;
    QLocale locale = QLocale::c();

private:
    int m_waitDepth = 0;
};

}  // namespace pelinor::test
