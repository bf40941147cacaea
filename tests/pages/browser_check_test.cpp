// SPDX-License-Identifier: GPL-3.0-or-later
// The pages as a real browser shows them: headless Chromium loads pages the
// writers wrote, served over HTTP on 127.0.0.1 with and without a charset in
// the Content-Type, and reports what it read and how it laid them out.
#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtEndian>

#include "document/cp932.h"
#include "document/project_file.h"
#include "net/http_server.h"
#include "pages/page_kinds.h"
#include "support/golden.h"
#include "support/scripted_prompter.h"

using namespace webloom;
using webloom::test::ScriptedPrompter;

namespace {

// A phone's screen in CSS pixels.
constexpr int kPhoneWidth = 390;

const QStringList kPages{QStringLiteral("index.html"), QStringLiteral("self.html"), QStringLiteral("link.html"),
                         QStringLiteral("sub1.html"), QStringLiteral("umi00001.html")};

quint32 crc32(const QByteArray &bytes)
{
    quint32 crc = 0xffffffffu;
    for (char c : bytes) {
        crc ^= static_cast<unsigned char>(c);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

QByteArray bigEndian(quint32 n)
{
    QByteArray out(4, '\0');
    qToBigEndian(n, out.data());
    return out;
}

// A one-colour RGB picture, wider than a phone.
QByteArray widePng(quint32 width, quint32 height)
{
    auto chunk = [](const QByteArray &type, const QByteArray &data) {
        return bigEndian(data.size()) + type + data + bigEndian(crc32(type + data));
    };
    QByteArray row(1, '\0'); // filter byte
    for (quint32 x = 0; x < width; ++x)
        row += QByteArray("\xc0\x40\x40", 3);
    const QByteArray header = bigEndian(width) + bigEndian(height) + QByteArray("\x08\x02\x00\x00\x00", 5);
    // qCompress puts the length in front of a zlib stream.
    const QByteArray pixels = qCompress(row.repeated(static_cast<qsizetype>(height))).mid(4);
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + chunk("IHDR", header) + chunk("IDAT", pixels) + chunk("IEND", {});
}

QString decodeReferences(QString text)
{
    static const QRegularExpression reference(QStringLiteral("&#([0-9]+);"));
    QRegularExpressionMatch m;
    while ((m = reference.match(text)).hasMatch()) {
        const char32_t c = m.captured(1).toUInt();
        text.replace(m.capturedStart(), m.capturedLength(), QString::fromUcs4(&c, 1));
    }
    return text;
}

QString withoutAsciiSpace(QString text)
{
    static const QRegularExpression space(QStringLiteral("[\\t\\n\\f\\r ]"));
    return text.remove(space);
}

// What a browser's body.textContent holds, blanks aside: the page's text
// without its tags and comments.
QString expectedBodyText(const QString &page)
{
    static const QRegularExpression comment(QStringLiteral("<!--.*?-->"),
                                            QRegularExpression::DotMatchesEverythingOption);
    static const QRegularExpression tag(QStringLiteral("<[^>]*>"));
    const qsizetype start = page.indexOf(QLatin1Char('>'), page.indexOf(QStringLiteral("<BODY")));
    QString body = page.mid(start + 1, page.indexOf(QStringLiteral("</BODY>")) - start - 1);
    return withoutAsciiSpace(decodeReferences(body.remove(comment).remove(tag)));
}

QString expectedTitle(const QString &page)
{
    static const QRegularExpression title(QStringLiteral("<TITLE>(.*)</TITLE>"));
    return withoutAsciiSpace(decodeReferences(title.match(page).captured(1)));
}

// Reads each frame once everything has loaded, into <pre id="result"> as
// base64 JSON, which survives --dump-dom unchanged.
const char *const kReport = R"(<script>
window.addEventListener("load", () => {
  const out = [];
  for (const f of document.querySelectorAll("iframe")) {
    const d = f.contentDocument;
    out.push({
      src: f.getAttribute("src"),
      charset: d.characterSet,
      title: d.title.replace(/[\t\n\f\r ]/g, ""),
      text: d.body.textContent.replace(/[\t\n\f\r ]/g, ""),
      scrollWidth: d.documentElement.scrollWidth,
      clientWidth: d.documentElement.clientWidth,
      images: [...d.images].map(i => ({natural: i.naturalWidth, left: i.getBoundingClientRect().left,
                                      right: i.getBoundingClientRect().right}))
    });
  }
  const pre = document.createElement("pre");
  pre.id = "result";
  pre.textContent = btoa(unescape(encodeURIComponent(JSON.stringify(out))));
  document.body.appendChild(pre);
});
</script>)";

class BrowserCheck : public ::testing::Test {
protected:
    void SetUp() override
    {
        chromium = QStandardPaths::findExecutable(QStringLiteral("chromium"));
        if (chromium.isEmpty())
            GTEST_SKIP() << "chromium is not installed; the pages are not checked in a browser";
        ASSERT_TRUE(root.isValid());
    }

    // Writes every kind of page of a case into root/folder, the case's
    // project with its own options, beside pictures wider than a phone.
    void writeSite(const QString &caseName, const QString &folder)
    {
        const QString site = root.filePath(folder);
        ASSERT_TRUE(QDir().mkpath(site + QStringLiteral("/photo")));
        const QByteArray picture = widePng(800, 300);
        for (const char *name : {"photo/umi.jpg", "banner.gif", "umi001.jpg", "umi002.jpg", "umi003.jpg"})
            ASSERT_TRUE(test::writeBytes(QDir(site).filePath(QLatin1String(name)), picture));

        SiteDocument doc;
        ScriptedPrompter prompter;
        ASSERT_TRUE(loadProjectFile(doc, prompter, test::dataPath(caseName + QStringLiteral("/project.txt"))));
        doc.setText(Field::Label1, site);
        doc.setText(Field::Text3, site);
        doc.setText(Field::Text6, QStringLiteral("http://")); // no base address: the photos load from here
        doc.setText(Field::Text31, QStringLiteral("はなこ🐟"));
        for (const PageKind &kind : pageKinds()) {
            doc.setCurrentTab(kind.tab);
            PageFrame frame(doc, prompter);
            ASSERT_EQ(kind.command(frame), PageResult::Written) << kind.name.toStdString();
        }
    }

    // Serves root and loads a page holding one frame per address, each as
    // wide as a phone; returns what the frames reported.
    QJsonArray load(const QStringList &addresses)
    {
        // Not the encoding of any page: a frame that declares nothing may
        // take its parent's, which must not make up for a missing declaration.
        QString wrapper = QStringLiteral("<!DOCTYPE html>\n<html><head><meta charset=\"windows-1252\"></head><body>\n");
        for (const QString &address : addresses)
            wrapper += QStringLiteral("<iframe width=\"%1\" height=\"844\" src=\"%2\"></iframe>\n")
                           .arg(kPhoneWidth)
                           .arg(address);
        wrapper += QString::fromUtf8(kReport) + QStringLiteral("</body></html>\n");
        EXPECT_TRUE(test::writeBytes(root.filePath(QStringLiteral("wrapper.html")), wrapper.toUtf8()));

        if (!server.start(root.path(), test::HttpServer::kCharsetInPath)) {
            ADD_FAILURE() << "the page server did not start: " << server.log().toStdString();
            return {};
        }

        QProcess browser;
        // Its own profile, no sandbox (the tests may run as root), and no
        // scroll bars, so a frame's width is the page's.
        browser.start(chromium, {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
                                 QStringLiteral("--disable-gpu"), QStringLiteral("--hide-scrollbars"),
                                 QStringLiteral("--user-data-dir=") + root.filePath(QStringLiteral("profile")),
                                 QStringLiteral("--dump-dom"), server.address() + QStringLiteral("none/wrapper.html")});
        if (!browser.waitForFinished(60000)) {
            browser.kill();
            browser.waitForFinished();
            ADD_FAILURE() << "chromium did not finish";
            return {};
        }
        const QByteArray dom = browser.readAllStandardOutput();
        static const QRegularExpression result(QStringLiteral("<pre id=\"result\">([A-Za-z0-9+/=]*)</pre>"));
        const QRegularExpressionMatch m = result.match(QString::fromLatin1(dom));
        if (!m.hasMatch()) {
            ADD_FAILURE() << "no report in the page chromium read:\n"
                          << browser.readAllStandardError().right(2000).toStdString();
            return {};
        }
        return QJsonDocument::fromJson(QByteArray::fromBase64(m.captured(1).toLatin1())).array();
    }

    QString page(const QString &folder, const QString &name, PageEncoding encoding) const
    {
        const QByteArray bytes = test::readBytes(root.filePath(folder + QLatin1Char('/') + name));
        return encoding == PageEncoding::Utf8 ? QString::fromUtf8(bytes) : cp932::decode(bytes);
    }

    QString chromium;
    QTemporaryDir root;
    test::HttpServer server;
};

} // namespace

TEST_F(BrowserCheck, EveryPageReadsRightWhateverCharsetTheHostSendsAndFitsAPhone)
{
    writeSite(QStringLiteral("options_utf8"), QStringLiteral("utf8"));
    writeSite(QStringLiteral("options_phone"), QStringLiteral("phone"));

    struct Case {
        QString folder;
        PageEncoding encoding;
        QString charset; // what the pages declare
        QStringList sent;
    };
    const Case cases[] = {
        {QStringLiteral("utf8"),
         PageEncoding::Utf8,
         QStringLiteral("UTF-8"),
         {QStringLiteral("UTF-8"), QStringLiteral("none")}},
        {QStringLiteral("phone"),
         PageEncoding::ShiftJis,
         QStringLiteral("Shift_JIS"),
         {QStringLiteral("Shift_JIS"), QStringLiteral("none")}},
    };
    QStringList addresses;
    for (const Case &c : cases)
        for (const QString &sent : c.sent)
            for (const QString &name : kPages)
                addresses.append(QLatin1Char('/') + sent + QLatin1Char('/') + c.folder + QLatin1Char('/') + name);

    const QJsonArray frames = load(addresses);
    ASSERT_EQ(frames.size(), addresses.size());
    qsizetype next = 0;
    qsizetype imagesOnPhone = 0;
    for (const Case &c : cases) {
        for ([[maybe_unused]] const QString &sent : c.sent) {
            for (const QString &name : kPages) {
                const QJsonObject frame = frames.at(next++).toObject();
                const std::string where = frame.value(QStringLiteral("src")).toString().toStdString();
                const QString source = page(c.folder, name, c.encoding);
                auto read = [&frame](const char *key) {
                    return frame.value(QLatin1String(key)).toString().toStdString();
                };
                EXPECT_EQ(read("charset"), c.charset.toStdString()) << where;
                EXPECT_EQ(read("title"), expectedTitle(source).toStdString()) << where;
                EXPECT_EQ(read("text"), expectedBodyText(source).toStdString()) << where;
                if (name == QStringLiteral("self.html")) {
                    EXPECT_NE(read("text").find("はなこ🐟"), std::string::npos) << where;
                }

                if (c.folder != QStringLiteral("phone"))
                    continue;
                const int width = frame.value(QStringLiteral("clientWidth")).toInt();
                EXPECT_EQ(width, kPhoneWidth) << where;
                EXPECT_LE(frame.value(QStringLiteral("scrollWidth")).toInt(), width) << where;
                const QJsonArray images = frame.value(QStringLiteral("images")).toArray();
                imagesOnPhone += images.size();
                for (const QJsonValue &v : images) {
                    const QJsonObject image = v.toObject();
                    EXPECT_EQ(image.value(QStringLiteral("natural")).toInt(), 800) << where; // loaded
                    EXPECT_GE(image.value(QStringLiteral("left")).toDouble(), 0) << where;
                    EXPECT_LE(image.value(QStringLiteral("right")).toDouble(), width) << where;
                }
            }
        }
    }
    // The banner and the picture of the top page, three photos; two charsets.
    EXPECT_EQ(imagesOnPhone, 2 * (2 + 3));
}
