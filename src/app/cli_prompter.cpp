// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/cli_prompter.h"

#include "app/terminal_text.h"
#include "pages/page_frame.h"

namespace webloom {

QString ConsolePrompter::oneLine(const QString &text)
{
    QString line = text;
    line.replace(QLatin1String("\r\n"), QLatin1String(" "));
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    // Questions are framed by line feeds; their spaces carry nothing. A box
    // may quote a project file from someone else (a page name, a folder),
    // whose control characters must not reach the terminal.
    return terminalText(trimSpaces(line));
}

void ConsolePrompter::message(const QString &text)
{
    err_ << oneLine(text) << '\n' << Qt::flush;
}

bool ConsolePrompter::question(const QString &title, const QString &text)
{
    err_ << oneLine(title) << ' ' << oneLine(text) << QStringLiteral(" → いいえ") << '\n' << Qt::flush;
    return false;
}

bool ConsolePrompter::openFile(FileDialogState &)
{
    return false;
}

bool ConsolePrompter::saveFile(FileDialogState &)
{
    return false;
}

} // namespace webloom
