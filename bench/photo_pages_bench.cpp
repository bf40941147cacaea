// SPDX-License-Identifier: GPL-3.0-or-later
// Writing a series of photo pages for a large folder: listmake and kaki over
// N photos at 20 per page, into a temporary base folder. The work should
// grow linearly with N (the reported complexity fit shows it).
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <map>
#include <memory>

#include "pages/photo_pages.h"

namespace {

class CountingPrompter : public webloom::Prompter {
public:
    void message(const QString &) override { ++messages; }
    bool question(const QString &, const QString &) override { return false; }
    bool openFile(webloom::FileDialogState &) override { return false; }
    bool saveFile(webloom::FileDialogState &) override { return false; }
    int messages = 0;
};

// One photo folder per size, made once and shared by the repetitions.
const QString &photoFolder(QTemporaryDir &root, qint64 count)
{
    static std::map<qint64, QString> folders;
    auto found = folders.find(count);
    if (found != folders.end())
        return found->second;
    const QString folder = root.filePath(QStringLiteral("photos%1").arg(count));
    QDir().mkpath(folder);
    for (qint64 i = 1; i <= count; ++i) {
        QFile f(QDir(folder).filePath(QStringLiteral("dsc%1.jpg").arg(i, 6, 10, QLatin1Char('0'))));
        f.open(QIODevice::WriteOnly);
    }
    return folders.emplace(count, folder).first->second;
}

QTemporaryDir &tempRoot()
{
    static QTemporaryDir root;
    return root;
}

void BM_PhotoPages(benchmark::State &state)
{
    const qint64 count = state.range(0);
    QTemporaryDir &root = tempRoot();
    const QString photos = photoFolder(root, count);
    const QString site = root.filePath(QStringLiteral("site%1").arg(count));
    QDir().mkpath(site);

    webloom::SiteDocument doc;
    doc.setText(webloom::Field::Label1, site);
    doc.setText(webloom::Field::Text1, QStringLiteral("http://www.example.com/"));
    doc.setText(webloom::Field::Text2, QStringLiteral("taro@example.com"));
    doc.setText(webloom::Field::Text3, photos);
    doc.setText(webloom::Field::Text5, QStringLiteral("jpg"));
    doc.setText(webloom::Field::Text6, QStringLiteral("http://www.example.com/photos"));
    doc.setText(webloom::Field::Text7, QStringLiteral("20"));
    doc.setText(webloom::Field::Text8, QStringLiteral("旅の写真"));
    doc.setText(webloom::Field::Text9, QStringLiteral("pic"));
    doc.setText(webloom::Field::Text11, QStringLiteral("掲示板"));
    doc.setText(webloom::Field::Text12, QStringLiteral("http://bbs.example.com/"));
    doc.setCurrentTab(webloom::TabPhoto);
    if (!doc.pointFile1(photos)) {
        state.SkipWithError("photo folder cannot be listed");
        return;
    }

    CountingPrompter prompter;
    for (auto _ : state) {
        webloom::PageFrame frame(doc, prompter);
        if (webloom::chkpic(frame) != webloom::PageResult::Written) {
            state.SkipWithError("the pages were not written");
            return;
        }
        benchmark::DoNotOptimize(frame.writtenFiles().size());
    }
    state.SetComplexityN(count);
    state.SetItemsProcessed(state.iterations() * count);
    state.counters["pages"] = static_cast<double>(doc.itemCount(webloom::ListId::List1));
}

BENCHMARK(BM_PhotoPages)->Arg(10000)->Arg(20000)->Arg(40000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
