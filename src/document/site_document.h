// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

#include "document/file_list.h"

namespace webloom {

// Every single-line field of the main window, named by its control. The
// numeric value of TextN is N, so project keys ("te" + three digits) and
// control names stay in step.
enum class Field : int {
    Label1 = 0, // base folder (display only)
    Text1 = 1,
    Text2 = 2,
    Text3 = 3,
    Text4 = 4,
    Text5 = 5,
    Text6 = 6,
    Text7 = 7,
    Text8 = 8,
    Text9 = 9,
    Text10 = 10,
    Text11 = 11,
    Text12 = 12,
    Text13 = 13,
    Text14 = 14,
    Text15 = 15,
    Text16 = 16,
    Text17 = 17,
    Text18 = 18,
    Text19 = 19,
    Text20 = 20,
    Text21 = 21,
    Text22 = 22,
    Text23 = 23,
    Text24 = 24,
    Text25 = 25,
    Text26 = 26,
    Text27 = 27,
    Text28 = 28,
    Text29 = 29,
    Text30 = 30,
    Text31 = 31,
    Text32 = 32,
    Text33 = 33,
    Text34 = 34,
    Text35 = 35,
    Text36 = 36,
    Text37 = 37,
    Text38 = 38,
    Text39 = 39,
    Text40 = 40,
    Text41 = 41,
    Text42 = 42,
    Text43 = 43,
    Text44 = 44,
    Text45 = 45,
    Text46 = 46,
    Text47 = 47,
    Text48 = 48,
    Text49 = 49,
    Text50 = 50,
    Text51 = 51,
    Label93 = 52, // index of the link item out for editing; empty when none
};
inline constexpr int kFieldCount = 53;

enum class ListId : int { List1 = 0, List2 = 1, List3 = 2, List4 = 3 };
inline constexpr int kListCount = 4;

// The six tabs of SSTab1.
enum Tab : int {
    TabCommon = 0,
    TabTop = 1,
    TabSub = 2,
    TabPhoto = 3,
    TabSelf = 4,
    TabLink = 5,
};

struct FieldInfo {
    Field field;
    const char *name;         // control name, e.g. "Text13"
    const char *defaultValue; // UTF-8; Label1's default is the start folder, set at run time
    const char *key;          // project key, nullptr when the field is not stored
};

// The table of all fields in control-number order (Label1, Text1..Text51, Label93).
const std::array<FieldInfo, kFieldCount> &fieldTable();
const FieldInfo &fieldInfo(Field f);
QString fieldName(Field f);
std::optional<Field> fieldByName(QStringView name);
QString listName(ListId id);

// The full-width colon that separates the parts of a link item.
inline constexpr char16_t kLinkSeparator = u'\uFF1A';
// How an empty body line is stored in List4.
inline constexpr char16_t kEmptyBodyLine = u'\u3000';

// How the pages are encoded. The project file itself is code page 932
// whatever the pages are.
enum class PageEncoding {
    ShiftJis, // code page 932, as pages always were
    Utf8,     // UTF-8 without a byte-order mark: every character as typed
};

// Site options that change every page. At their defaults the pages and the
// project file are exactly as they were before the options existed.
struct PageOptions {
    PageEncoding encoding = PageEncoding::ShiftJis;
    // A viewport line and style rules that keep the page within a phone's
    // screen.
    bool phone = false;

    friend bool operator==(const PageOptions &, const PageOptions &) = default;
};

// The site document: one value per field for the whole run. Widgets bind to
// it in both directions through the change signals; page writers, the
// project file and the folder chooser read and write it directly.
class SiteDocument : public QObject {
    Q_OBJECT
public:
    // Fills the defaults; Label1 becomes the process's current folder.
    explicit SiteDocument(QObject *parent = nullptr);

    const QString &text(Field f) const { return texts_[static_cast<int>(f)]; }
    void setText(Field f, const QString &value);

    // Lists: insertion order, no sorting.
    const QStringList &list(ListId id) const { return lists_[static_cast<int>(id)]; }
    void setList(ListId id, const QStringList &items);
    void clearList(ListId id);
    void appendItem(ListId id, const QString &item);
    qsizetype itemCount(ListId id) const { return list(id).size(); }
    QString item(ListId id, qsizetype index) const; // empty when out of range
    bool removeItem(ListId id, qsizetype index);
    bool replaceItem(ListId id, qsizetype index, const QString &item);

    // rtext1, the sub page body, as plain text with "\n" line breaks (the
    // form the text widget uses).
    const QString &rtext1() const { return rtext1_; }
    void setRtext1(const QString &text);
    // The body split into lines: CR LF, LF and CR each end a line, and a final
    // line break does not start a further, empty line.
    QStringList bodyLines() const;
    // Replaces the body by the given lines, each followed by a line break.
    void setBodyLines(const QStringList &lines);

    // File1: the files of the photo folder Text3. Derived, never stored.
    const FileList &file1() const { return file1_; }
    // Points File1 at a folder. Fails, keeping the old entries, when the
    // folder does not exist or cannot be read.
    bool pointFile1(const QString &folder);
    bool refreshFile1();
    // Points File1 at nothing (a project whose photo folder is not on this
    // computer): no entries.
    void clearFile1();

    const PageOptions &pageOptions() const { return options_; }
    void setPageOptions(const PageOptions &options);

    // The current tab of SSTab1: page writers read it (navigation bar) and the
    // required-field check may switch it.
    int currentTab() const { return currentTab_; }
    void setCurrentTab(int tab);

    // A check found this field empty and has said so: the window puts the
    // cursor there, so the user can type the missing value at once.
    void pointAtMissing(Field field) { emit missingField(field); }

signals:
    void textChanged(webloom::Field field);
    void listChanged(webloom::ListId id);
    void rtext1Changed();
    void file1Changed();
    void currentTabChanged(int tab);
    void pageOptionsChanged();
    void missingField(webloom::Field field);

private:
    std::array<QString, kFieldCount> texts_;
    std::array<QStringList, kListCount> lists_;
    QString rtext1_;
    FileList file1_;
    PageOptions options_;
    int currentTab_ = TabCommon;
};

} // namespace webloom
