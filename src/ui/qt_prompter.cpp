// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/qt_prompter.h"

#include <QMessageBox>

#include "ui/file_dialog.h"

namespace webloom {

void QtPrompter::message(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, kApplicationTitle, text, QMessageBox::Ok, parent_);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

namespace {

bool ask(QWidget *parent, const QString &title, const QString &text, QMessageBox::StandardButton preset)
{
    QMessageBox box(QMessageBox::Warning, title.isEmpty() ? kApplicationTitle : title, text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(preset);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

} // namespace

bool QtPrompter::question(const QString &title, const QString &text)
{
    return ask(parent_, title, text, QMessageBox::Yes);
}

bool QtPrompter::questionDefaultNo(const QString &title, const QString &text)
{
    return ask(parent_, title, text, QMessageBox::No);
}

bool QtPrompter::openFile(FileDialogState &state)
{
    return FileDialog::run(parent_, FileDialog::Mode::Open, state);
}

bool QtPrompter::saveFile(FileDialogState &state)
{
    return FileDialog::run(parent_, FileDialog::Mode::Save, state);
}

} // namespace webloom
