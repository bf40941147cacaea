// SPDX-License-Identifier: GPL-3.0-or-later
// Replays stored inputs through a fuzz target without libFuzzer, so that the
// corpus runs as an ordinary test under any compiler. Arguments are files or
// folders (every file below a folder, in name order).
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <cstdint>
#include <cstdio>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv)
{
    QStringList files;
    for (int i = 1; i < argc; ++i) {
        const QString argument = QFile::decodeName(argv[i]);
        if (QFileInfo(argument).isDir()) {
            QStringList found;
            QDirIterator it(argument, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (it.hasNext())
                found.append(it.next());
            found.sort();
            files += found;
        } else {
            files.append(argument);
        }
    }
    if (files.isEmpty()) {
        std::fprintf(stderr, "no inputs given\n");
        return 2;
    }
    for (const QString &path : files) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
            return 2;
        }
        const QByteArray bytes = file.readAll();
        std::fprintf(stderr, "%s\n", qPrintable(path));
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.constData()), static_cast<size_t>(bytes.size()));
    }
    std::fprintf(stderr, "%lld inputs replayed\n", static_cast<long long>(files.size()));
    return 0;
}
