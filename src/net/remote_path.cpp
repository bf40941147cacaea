// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/remote_path.h"

namespace webloom {

RemotePath RemotePath::fromEntryPath(const QByteArray &entryPath)
{
    RemotePath path;
    path.absolute = entryPath.startsWith('/');
    if (path.absolute) {
        for (const QByteArray &element : entryPath.split('/')) {
            if (!element.isEmpty())
                path.elements.append(element);
        }
    }
    return path;
}

RemotePath RemotePath::resolved(const QString &argument, const QByteArray &singleName) const
{
    RemotePath target = *this;
    QList<QByteArray> steps;
    if (argument.contains(QLatin1Char('/'))) {
        if (argument.startsWith(QLatin1Char('/')) && absolute)
            target.elements.clear();
        for (const QString &element : argument.split(QLatin1Char('/'), Qt::SkipEmptyParts))
            steps.append(element.toUtf8());
    } else {
        steps.append(singleName.isEmpty() ? argument.toUtf8() : singleName);
    }
    for (const QByteArray &step : steps) {
        if (step == ".")
            continue;
        if (step == "..") {
            if (!target.elements.isEmpty() && target.elements.last() != "..")
                target.elements.removeLast();
            else if (!absolute)
                target.elements.append(step); // above the log-in folder
            continue;
        }
        target.elements.append(step);
    }
    return target;
}

QByteArray RemotePath::ftpUrlPath() const
{
    QByteArray url = "/";
    if (absolute)
        url += elements.isEmpty() ? QByteArray("%2F/") : QByteArray("%2F");
    for (const QByteArray &element : elements) {
        url += element.toPercentEncoding();
        url += '/';
    }
    return url;
}

QByteArray RemotePath::sftpUrlPath() const
{
    QByteArray url = absolute ? QByteArray("/") : QByteArray("/~/");
    for (const QByteArray &element : elements) {
        url += element.toPercentEncoding();
        url += '/';
    }
    return url;
}

QByteArray RemotePath::plainPath() const
{
    QByteArray path = absolute ? QByteArray("/") : QByteArray();
    path += elements.join('/');
    return path.isEmpty() ? QByteArray(".") : path;
}

} // namespace webloom
