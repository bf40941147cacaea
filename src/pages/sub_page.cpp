// SPDX-License-Identifier: GPL-3.0-or-later
#include "pages/sub_page.h"

#include <QFile>
#include <QStringDecoder>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

#include "document/atomic_file.h"
#include "document/cp932.h"
#include "document/lost_characters.h"
#include "document/project_file.h"

namespace webloom {

namespace {

const QString kBodyFileFilter = QStringLiteral("text|*.txt|All Files|*.*|");

bool isAscii(const QByteArray &bytes)
{
    for (char c : bytes) {
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    }
    return true;
}

// Reads a body file whole, or says why not. Only a regular file: a pipe
// would block the window until some other program writes to it, and a device
// may never end. It is opened without waiting and checked before a byte is
// read, so a name that changes in between does not matter.
std::optional<QByteArray> readBodyFileBytes(const QString &path, QString *reason)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *reason = qt_error_string(errno);
        return std::nullopt;
    }
    struct stat st {};
    std::optional<QByteArray> bytes;
    if (::fstat(fd, &st) != 0) {
        *reason = qt_error_string(errno);
    } else if (!S_ISREG(st.st_mode)) {
        *reason = QStringLiteral("普通のファイルではありません（フォルダ、パイプ、装置など）。");
    } else if (st.st_size > kMaxBodyFileBytes) {
        *reason = QStringLiteral("ファイルが大きすぎます（16MBまで）。");
    } else {
        // One byte more than allowed tells a file that grew since fstat.
        QByteArray buffer(kMaxBodyFileBytes + 1, Qt::Uninitialized);
        qsizetype size = 0;
        for (;;) {
            const ssize_t n = ::read(fd, buffer.data() + size, static_cast<size_t>(buffer.size() - size));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                *reason = qt_error_string(errno);
                break;
            }
            size += n;
            if (n == 0 || size == buffer.size())
                break;
        }
        if (size > kMaxBodyFileBytes) {
            *reason = QStringLiteral("ファイルが大きすぎます（16MBまで）。");
        } else if (reason->isEmpty()) {
            buffer.truncate(size);
            bytes = std::move(buffer);
        }
    }
    ::close(fd);
    return bytes;
}

} // namespace

PageResult command14(PageFrame &frame)
{
    rfchg(frame.doc());
    if (!frame.requiredCheck({Field::Text1, Field::Text2}))
        return PageResult::Refused;
    return kakisub(frame);
}

PageResult kakisub(PageFrame &frame)
{
    const SiteDocument &doc = frame.doc();
    if (doc.itemCount(ListId::List4) == 0) {
        frame.prompter().message(QStringLiteral("項目を追加してください。"));
        return PageResult::Refused;
    }
    if (doc.text(Field::Text49).isEmpty()) {
        frame.prompter().message(QStringLiteral("ファイル名を入れてください。"));
        frame.doc().pointAtMissing(Field::Text49);
        return PageResult::Refused;
    }
    const QString name = trimSpaces(doc.text(Field::Text49));
    if (!frame.allowName(Field::Text49, name))
        return PageResult::Refused;
    if (!frame.open(name))
        return PageResult::Failed;

    const QString &title = doc.text(Field::Text48);
    frame.pageHead(title, title);
    frame.line(QStringLiteral("<br>"));
    frame.centredTable();
    for (const QString &bodyLine : doc.list(ListId::List4)) {
        frame.line(QStringLiteral("<tr>"));
        frame.line(QStringLiteral("<td nowrap align=\"left\">") + bodyLine + QStringLiteral("</td>"));
        frame.line(QStringLiteral("</tr>"));
    }
    frame.endCentredTable();
    return frame.finishPage();
}

QString decodeBodyFile(const QByteArray &bytes)
{
    QString text;
    bool utf8 = false;
    // A plain ASCII file reads the same either way; only text beyond ASCII
    // tells the two encodings apart, and code page 932 text is almost never
    // valid UTF-8.
    if (!isAscii(bytes)) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        text = decoder.decode(bytes);
        utf8 = !decoder.hasError();
        if (utf8 && text.startsWith(QChar(0xFEFF)))
            text.remove(0, 1);
    }
    if (!utf8)
        text = cp932::decode(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

QByteArray encodeBodyFile(const SiteDocument &doc)
{
    QByteArray bytes;
    for (const QString &bodyLine : doc.bodyLines()) {
        bytes += cp932::encode(bodyLine, cp932::Unmappable::QuestionMark);
        bytes += "\r\n";
    }
    return bytes;
}

void command16(SiteDocument &doc, Prompter &prompter, FileDialogState &cob1)
{
    if (!prompter.openFile(cob1))
        return;
    QString reason;
    const std::optional<QByteArray> bytes = readBodyFileBytes(cob1.fileName, &reason);
    if (!bytes) {
        prompter.message(cob1.fileName + QStringLiteral(" のファイルを読み込めませんでした。\n") + reason);
        return;
    }
    doc.setRtext1(decodeBodyFile(*bytes));
}

bool command17(SiteDocument &doc, Prompter &prompter, FileDialogState &cob1)
{
    if (!confirmLostCharacters(prompter, lostInBody(doc.bodyLines())))
        return false;
    cob1.filter = kBodyFileFilter;
    cob1.defaultExt = QStringLiteral("txt");
    if (!prompter.saveFile(cob1))
        return false;
    QString error;
    if (!writeFileAtomically(cob1.fileName, encodeBodyFile(doc), &error)) {
        prompter.message(QStringLiteral("書き込みは、完了していません！\n") + error);
        return false;
    }
    return true;
}

} // namespace webloom
