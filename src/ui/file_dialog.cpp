// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/file_dialog.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace webloom {

QStringList qtNameFilters(const QString &pipeFilter)
{
    const QStringList parts = pipeFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString label = parts.at(i).trimmed();
        QStringList patterns = parts.at(i + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString &p : patterns)
            p = p.trimmed();
        patterns.removeAll(QString());
        if (patterns.isEmpty())
            continue;
        const QString joined = patterns.join(QLatin1Char(' '));
        filters.append(label.isEmpty() ? joined : label + QStringLiteral(" (") + joined + QLatin1Char(')'));
    }
    return filters;
}

QString qtFilterString(const QString &pipeFilter)
{
    return qtNameFilters(pipeFilter).join(QStringLiteral(";;"));
}

QString withDefaultExtension(const QString &path, const QString &extension)
{
    if (path.isEmpty() || extension.isEmpty())
        return path;
    const QString name = QFileInfo(path).fileName();
    if (name.isEmpty() || name.lastIndexOf(QLatin1Char('.')) > 0)
        return path;
    return path + QLatin1Char('.') + extension;
}

bool FileDialog::run(QWidget *parent, Mode mode, FileDialogState &state)
{
    QFileDialog dialog(parent);
    dialog.setAcceptMode(mode == Mode::Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    // An open dialog accepts any name: a missing file is reported by the
    // command that reads it, in its own words.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);

    const QStringList filters = qtNameFilters(state.filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        dialog.selectNameFilter(filters.value(state.filterIndex, filters.first()));
    }

    if (!state.fileName.isEmpty()) {
        const QFileInfo proposed(QDir::fromNativeSeparators(state.fileName));
        dialog.setDirectory(proposed.absolutePath());
        dialog.selectFile(proposed.fileName());
    } else {
        dialog.setDirectory(QDir::currentPath());
    }

    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QString chosen = dialog.selectedFiles().value(0);
    if (chosen.isEmpty())
        return false;

    QString path = chosen;
    // In an open dialog a name typed without its extension still finds the
    // file that has it; a file that really has no extension is taken as is.
    if (mode == Mode::Save || !QFileInfo::exists(chosen))
        path = withDefaultExtension(chosen, state.defaultExt);
    state.fileName = QDir::toNativeSeparators(path);
    if (!filters.isEmpty())
        state.filterIndex = std::max<qsizetype>(0, filters.indexOf(dialog.selectedNameFilter()));
    return true;
}

} // namespace webloom
