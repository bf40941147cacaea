#include "pages/sub_page.h"

#include <QFile>
#include <QStringDecoder>

#include "document/atomic_file.h"
#include "document/cp932.h"
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
        return PageResult::Refused;
    }
    if (!frame.open(trimSpaces(doc.text(Field::Text49))))
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
    QFile file(cob1.fileName);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return;
    doc.setRtext1(decodeBodyFile(bytes));
}

bool command17(SiteDocument &doc, Prompter &prompter, FileDialogState &cob1)
{
    cob1.filter = kBodyFileFilter;
    cob1.defaultExt = QStringLiteral("txt");
    if (!prompter.saveFile(cob1))
        return false;
    const bool written = writeFileAtomically(cob1.fileName, encodeBodyFile(doc), nullptr);
    if (!written) {
        prompter.message(QStringLiteral("書き込みは、完了していません！"));
    }
    return written;
}

} // namespace webloom
