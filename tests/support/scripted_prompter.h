// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <QStringList>

#include <deque>
#include <optional>
#include <vector>

#include "document/prompter.h"

namespace webloom::test {

// A Prompter for tests: records every box it is asked to show and answers
// questions and file dialogs from queues. An unexpected question or dialog
// (empty queue) is recorded and answered No / Cancel, and counts as a
// failure through unexpected().
class ScriptedPrompter : public Prompter {
public:
    struct Shown {
        enum Kind { Message, Question, OpenDialog, SaveDialog } kind;
        QString title; // "webloom" for messages
        QString text;  // for dialogs: the proposed file name
        bool defaultNo = false;
    };

    void message(const QString &text) override;
    bool question(const QString &title, const QString &text) override;
    bool questionDefaultNo(const QString &title, const QString &text) override;
    bool openFile(FileDialogState &state) override;
    bool saveFile(FileDialogState &state) override;

    // Queue answers.
    void answerYes() { answers_.push_back(true); }
    void answerNo() { answers_.push_back(false); }
    void chooseFile(const QString &path) { files_.push_back(path); }
    void cancelDialog() { files_.push_back(std::nullopt); }

    const std::vector<Shown> &shown() const { return shown_; }
    QStringList messages() const;  // texts of the message boxes, in order
    QStringList questions() const; // texts of the questions, in order
    QString lastMessage() const;
    int unexpected() const { return unexpected_; }
    bool answersLeft() const { return !answers_.empty() || !files_.empty(); }
    void clear() { shown_.clear(); }

    // The filter each dialog was shown with, in order.
    QStringList dialogFilters;

private:
    bool dialog(Shown::Kind kind, FileDialogState &state);

    std::vector<Shown> shown_;
    std::deque<bool> answers_;
    std::deque<std::optional<QString>> files_;
    int unexpected_ = 0;
};

} // namespace webloom::test
