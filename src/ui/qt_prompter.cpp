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

bool QtPrompter::question(const QString &title, const QString &text)
{
    QMessageBox box(QMessageBox::Warning, title.isEmpty() ? kApplicationTitle : title, text,
                    QMessageBox::Yes | QMessageBox::No, parent_);
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    box.setEscapeButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
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
