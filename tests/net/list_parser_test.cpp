// SPDX-License-Identifier: GPL-3.0-or-later
// Listing lines as servers of several kinds send them.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QDate>
#include <QString>

#include "net/list_parser.h"

namespace webloom::listing {
namespace {

struct LineCase {
    const char *line;
    bool parsed;
    const char *name;
    bool directory;
    bool link;
    qint64 size;
};

void PrintTo(const LineCase &c, std::ostream *os)
{
    *os << '"' << c.line << '"';
}

void expectEntry(const LineCase &c, const std::optional<ListEntry> &entry)
{
    ASSERT_EQ(entry.has_value(), c.parsed);
    if (!c.parsed)
        return;
    EXPECT_EQ(entry->name, QByteArray(c.name));
    EXPECT_EQ(entry->directory, c.directory);
    EXPECT_EQ(entry->link, c.link);
    EXPECT_EQ(entry->size, c.size);
}

class UnixAndDosLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(UnixAndDosLines, GiveNameKindAndSize)
{
    expectEntry(GetParam(), parseListLine(QByteArray(GetParam().line)));
}

INSTANTIATE_TEST_SUITE_P(
    Captured, UnixAndDosLines,
    ::testing::Values(
        // Unix "ls -l", recent files (time) and old ones (year, right-aligned).
        LineCase{"-rw-r--r--   1 owner    group        1234 Dec 07 11:20 index.html", true, "index.html", false, false,
                 1234},
        LineCase{"drwxr-xr-x   2 owner    group        4096 Mar 04  2019 images", true, "images", true, false, 4096},
        LineCase{"-rw-r--r--   1 owner    group          12 Dec  7 11:20 two  inner spaces.txt", true,
                 "two  inner spaces.txt", false, false, 12},
        LineCase{"-rw-r--r--   1 owner    group          12 Mar 04  2019  leading.txt", true, " leading.txt", false,
                 false, 12},
        LineCase{"-rw-r--r--   1 owner    group          12 Dec 07 11:20   two leading", true, "  two leading", false,
                 false, 12},
        LineCase{"-rw-r--r--   1 1001     1001        20480 Feb 29  2020 numeric owner.zip", true, "numeric owner.zip",
                 false, false, 20480},
        LineCase{"-rw-r--r--   1 owner           777 Jan 15 09:00 no group.txt", true, "no group.txt", false, false,
                 777},
        LineCase{"-rw-r--r--   1 dec      staff          10 Jan 02 10:00 owner named like a month", true,
                 "owner named like a month", false, false, 10},
        LineCase{"-rw-r--r--   1 owner    group          10 Dec 07 11:20 Dec 07 11:20 copy", true, "Dec 07 11:20 copy",
                 false, false, 10},
        LineCase{"-rw-r--r--   1 owner    group  5368709120 Jan 01  2023 big.iso", true, "big.iso", false, false,
                 5368709120LL},
        LineCase{"-rw-r--r--+  1 owner    group         100 Apr 01  2021 acl.txt", true, "acl.txt", false, false, 100},
        LineCase{"drwxrwxrwt   2 root     root         4096 Dec 07 11:20 tmp", true, "tmp", true, false, 4096},
        LineCase{"-rw-r--r-- 1 owner group 4321 2019-03-04 11:20 iso date.txt", true, "iso date.txt", false, false,
                 4321},
        LineCase{"-rw-r--r--   1 owner    group         100 12\xE6\x9C\x88  7 11:20 japanese month.txt", true,
                 "japanese month.txt", false, false, 100},
        LineCase{"drwxr-xr-x   3 owner    group        4096  1\x8C\x8E 15  2020 cp932 month", true, "cp932 month", true,
                 false, 4096},
        // Links: the name before " -> "; a target with an extension is a file.
        LineCase{"lrwxrwxrwx   1 owner    group          11 Jan 15 09:00 www -> public_html", true, "www", true, true,
                 11},
        LineCase{"lrwxrwxrwx   1 owner    group          10 Jan 15 09:00 top.html -> index.html", true, "top.html",
                 false, true, 10},
        LineCase{"lrwxrwxrwx   1 owner    group          13 Jan 15  2018 logs -> ../var/logs/", true, "logs", true,
                 true, 13},
        // DOS / IIS: two- and four-digit years, 12- and 24-hour clocks.
        LineCase{"12-07-19  11:20AM       <DIR>          folder name", true, "folder name", true, false, -1},
        LineCase{"03-04-2019  11:20PM                 1234 file name.txt", true, "file name.txt", false, false, 1234},
        LineCase{"12-07-19  11:20AM       <DIR>           leading", true, " leading", true, false, -1},
        LineCase{"03-04-19  23:20                   99 24 hour.txt", true, "24 hour.txt", false, false, 99},
        LineCase{"01-01-2020  01:00AM  <DIR>  narrow", true, "narrow", true, false, -1},
        // Not entries.
        LineCase{"total 24", false, "", false, false, -1}, LineCase{"", false, "", false, false, -1},
        LineCase{"13-45-19  11:20AM                   12 bad date.txt", false, "", false, false, -1},
        LineCase{"-rw-r--r--   1 owner    group         100 Dec 07 11:20", false, "", false, false, -1},
        LineCase{"hello world this is not a listing", false, "", false, false, -1}));

class MlsdLines : public ::testing::TestWithParam<LineCase> {};

TEST_P(MlsdLines, GiveNameKindAndSize)
{
    expectEntry(GetParam(), parseMlsdLine(QByteArray(GetParam().line)));
}

INSTANTIATE_TEST_SUITE_P(
    Captured, MlsdLines,
    ::testing::Values(LineCase{"type=file;size=1234;modify=20191207112000;perm=r; index.html", true, "index.html",
                               false, false, 1234},
                      LineCase{"modify=20261207114337;perm=eldfmMTcp;size=4096;type=dir;unique=fe00ga72295; a dir",
                               true, "a dir", true, false, 4096},
                      LineCase{"type=cdir;modify=20191207112000;perm=flcdmpe; /home/user", true, ".", true, false, -1},
                      LineCase{"type=pdir;modify=20191207112000;perm=flcdmpe; ..", true, "..", true, false, -1},
                      LineCase{"Type=DIR;Size=0; Upper Case Facts", true, "Upper Case Facts", true, false, 0},
                      LineCase{"type=OS.unix=slink:/home/user/public_html;size=11; www", true, "www", true, true, 11},
                      LineCase{"type=OS.unix=symlink;size=10; top.html", true, "top.html", false, true, 10},
                      LineCase{"type=file;size=5;  leading.txt", true, " leading.txt", false, false, 5},
                      LineCase{"type=file;size=3; semi;colon = name.txt", true, "semi;colon = name.txt", false, false,
                               3},
                      LineCase{"size=10;type=file;UNIX.mode=0644;unix.owner=1001; facts in any order", true,
                               "facts in any order", false, false, 10},
                      LineCase{"type=file;sizd=7; sizd fact", true, "sizd fact", false, false, 7},
                      LineCase{" no facts", true, "no facts", false, false, -1},
                      LineCase{"type=file;size=-2; negative size", true, "negative size", false, false, -1},
                      LineCase{"garbage", false, "", false, false, -1},
                      LineCase{"total 3", false, "", false, false, -1}));

TEST(ListParser, SplitsDataOnCrLfAndLfAndSkipsWhatIsNoEntry)
{
    const QByteArray data = "total 8\r\n"
                            "drwxr-xr-x   2 o g 4096 Dec 07 11:20 images\r\n"
                            "\r\n"
                            "-rw-r--r--   1 o g 12 Dec 07 11:20 a.html\n"
                            "-rw-r--r--   1 o g 12 Dec 07 11:20 last without line end";
    const QList<ListEntry> entries = parseListing(data, Format::List);
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[0].name, "images");
    EXPECT_EQ(entries[1].name, "a.html");
    EXPECT_EQ(entries[2].name, "last without line end");

    const QList<ListEntry> mlsd = parseListing("type=dir; d\r\ntype=file;size=1; f\r\n", Format::Mlsd);
    ASSERT_EQ(mlsd.size(), 2);
    EXPECT_TRUE(mlsd[0].directory);
    EXPECT_FALSE(mlsd[1].directory);
}

TEST(ListParser, DecodesUtf8NamesAndFallsBackToCodePage932)
{
    EXPECT_EQ(decodeName("plain.html"), QStringLiteral("plain.html"));
    EXPECT_EQ(decodeName("\xE5\x86\x99\xE7\x9C\x9F.jpg"), QStringLiteral("写真.jpg"));
    EXPECT_EQ(decodeName("\x93\xfa\x96\x7b.txt"), QStringLiteral("日本.txt"));
    // Half-width katakana in code page 932 are single bytes above 0x7F.
    EXPECT_EQ(decodeName("\xBC\xDE\xAC\xB0"), QStringLiteral("ｼﾞｬｰ"));
}

ListEntry entry(const QByteArray &name, bool directory)
{
    ListEntry e;
    e.name = name;
    e.directory = directory;
    return e;
}

TEST(ListParser, FormatsFoldersFirstInCaseInsensitiveOrder)
{
    const Listing listing = formatListing({
        entry("b.html", false),
        entry(".", true),
        entry("..", true),
        entry("Zeta", true),
        entry("alpha", true),
        entry("A.html", false),
        entry("a.html", false),
        entry(" lead", false),
        entry("bad\rname", false),
        entry("bad\nname", false),
        entry("\x93\xfa\x96\x7b.txt", false),
    });
    EXPECT_EQ(QString::fromUtf8(listing.text),
              QStringLiteral("alpha/\r\nZeta/\r\n lead\r\nA.html\r\na.html\r\nb.html\r\n日本.txt\r\n\r\n"));
    EXPECT_EQ(listing.rawNames.value(QStringLiteral("日本.txt")), QByteArray("\x93\xfa\x96\x7b.txt"));
    EXPECT_EQ(listing.rawNames.value(QStringLiteral("alpha")), QByteArray("alpha"));
    EXPECT_FALSE(listing.rawNames.contains(QStringLiteral(".")));
}

TEST(ListParser, EmptyDirectoryIsOneEmptyLine)
{
    EXPECT_EQ(formatListing({}).text, QByteArray("\r\n"));
    EXPECT_EQ(formatListing({entry(".", true), entry("..", true)}).text, QByteArray("\r\n"));
}

TEST(ListParser, ReadsTheTimeWhereTheLineGivesIt)
{
    struct Case {
        const char *line;
        bool mlsd;
        const char *time; // ISO, UTC; "" when the line gives none
    };
    const int year = QDate::currentDate().year();
    const Case cases[] = {
        {"type=file;size=5;modify=20260102030405.123; a.html", true, "2026-01-02T03:04:05Z"},
        {"type=file;size=5; no-time.html", true, ""},
        {"type=file;modify=2026; bad-time.html", true, ""},
        {"-rw-r--r--   1 owner    group        1234 Mar 04  2019 old.html", false, "2019-03-04T00:00:00Z"},
        {"-rw-r--r-- 1 owner group 4321 2019-03-04 11:20 iso.txt", false, "2019-03-04T11:20:00Z"},
        {"12-07-26  04:21PM                 1234 dos.html", false, "2026-12-07T16:21:00Z"},
        {"01-02-1999  12:05AM       <DIR>          dos dir", false, "1999-01-02T00:05:00Z"},
    };
    for (const Case &c : cases) {
        const std::optional<ListEntry> entry = c.mlsd ? parseMlsdLine(c.line) : parseListLine(c.line);
        ASSERT_TRUE(entry.has_value()) << c.line;
        EXPECT_EQ(entry->modified.toString(Qt::ISODate).toStdString(), c.time) << c.line;
    }
    // Without a year, "ls -l" means the last twelve months.
    const ListEntry jan = *parseListLine("-rw-r--r--   1 o g 1 Jan  1 00:00 jan.html");
    EXPECT_EQ(jan.modified.date(), QDate(year, 1, 1));
    EXPECT_TRUE(parseListLine("12-07-26  04:21PM                 1234 dos.html")->dosStyle);
    EXPECT_FALSE(jan.dosStyle);
}

} // namespace
} // namespace webloom::listing
