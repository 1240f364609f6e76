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
        Recorded entry;
        entry.kind = Recorded::Message;
        entry.text = text;
        entry.icon = icon;
        entry.title = title;
        entry.waitDepth = m_waitDepth;
        log.push_back(entry);
    }

    std::optional<QString> chooseFile(QWidget*, const FileDialogRequest& request) override
    {
        Recorded entry;
        entry.kind = Recorded::FileDialog;
        entry.request = request;
        entry.waitDepth = m_waitDepth;
        log.push_back(entry);
        if (answers.empty()) {
            ++unansweredDialogs;
            return std::nullopt;
        }
        const Answer next = answers.front();
        answers.pop_front();
        if (!next.chosen) return std::nullopt;
        return next.path;
    }

    void beginWait() override
    {
        ++m_waitDepth;
        log.push_back(Recorded{Recorded::WaitOn, {}, {}, {}, {}, m_waitDepth});
    }
    void endWait() override
    {
        --m_waitDepth;
        log.push_back(Recorded{Recorded::WaitOff, {}, {}, {}, {}, m_waitDepth});
    }
    QLocale numberLocale() const override { return locale; }

    // Queue the user's answer to the next file dialog: a path, or Cancel.
    void answer(const QString& path) { answers.push_back(Answer{true, path}); }
    void cancel() { answers.push_back(Answer{false, QString()}); }

    std::vector<Recorded> messages() const { return ofKind(Recorded::Message); }
    std::vector<Recorded> dialogs() const { return ofKind(Recorded::FileDialog); }
    std::vector<Recorded> ofKind(Recorded::Kind kind) const
    {
        std::vector<Recorded> out;
        for (const Recorded& entry : log)
            if (entry.kind == kind) out.push_back(entry);
        return out;
    }
    int waitDepth() const { return m_waitDepth; }
    void clear() { log.clear(); }

    std::vector<Recorded> log;
    struct Answer {
        bool chosen;
        QString path;
    };
    std::deque<Answer> answers;
    int unansweredDialogs = 0;
    QLocale locale = QLocale::c();

private:
    int m_waitDepth = 0;
};

}  // namespace pelinor::test
