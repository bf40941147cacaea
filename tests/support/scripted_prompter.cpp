// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/scripted_prompter.h"

namespace webloom::test {

void ScriptedPrompter::message(const QString &text)
{
    shown_.push_back({Shown::Message, kApplicationTitle, text});
}

bool ScriptedPrompter::question(const QString &title, const QString &text)
{
    shown_.push_back({Shown::Question, title, text});
    if (answers_.empty()) {
        ++unexpected_;
        return false;
    }
    const bool yes = answers_.front();
    answers_.pop_front();
    return yes;
}

bool ScriptedPrompter::questionDefaultNo(const QString &title, const QString &text)
{
    const bool yes = question(title, text);
    shown_.back().defaultNo = true;
    return yes;
}

bool ScriptedPrompter::dialog(Shown::Kind kind, FileDialogState &state)
{
    shown_.push_back({kind, QString(), state.fileName});
    dialogFilters.append(state.filter);
    if (files_.empty()) {
        ++unexpected_;
        return false;
    }
    const std::optional<QString> choice = files_.front();
    files_.pop_front();
    if (!choice)
        return false;
    state.fileName = *choice;
    return true;
}

bool ScriptedPrompter::openFile(FileDialogState &state)
{
    return dialog(Shown::OpenDialog, state);
}

bool ScriptedPrompter::saveFile(FileDialogState &state)
{
    return dialog(Shown::SaveDialog, state);
}

QStringList ScriptedPrompter::messages() const
{
    QStringList out;
    for (const Shown &s : shown_) {
        if (s.kind == Shown::Message)
            out.append(s.text);
    }
    return out;
}

QStringList ScriptedPrompter::questions() const
{
    QStringList out;
    for (const Shown &s : shown_) {
        if (s.kind == Shown::Question)
            out.append(s.text);
    }
    return out;
}

QString ScriptedPrompter::lastMessage() const
{
    const QStringList m = messages();
    return m.isEmpty() ? QString() : m.last();
}

} // namespace webloom::test
