// SPDX-License-Identifier: GPL-3.0-or-later
// Writing a series of photo pages for a large folder: listmake and kaki over
// N photos at 20 per page, into a temporary base folder. The work should
// grow linearly with N (the reported complexity fit shows it).
//
// For 20,000 photos (1,000 pages) BM_PagesBesideCopy sets the first build
// and a rebuild with nothing changed beside `cp -r` of the same output, which
// is what writing those bytes costs on this disk at the least.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <vector>

#include "pages/photo_pages.h"

namespace {

constexpr qint64 kComparedPhotos = 20000;

class CountingPrompter : public webloom::Prompter {
public:
    void message(const QString &) override { ++messages; }
    bool question(const QString &, const QString &) override { return false; }
    bool openFile(webloom::FileDialogState &) override { return false; }
    bool saveFile(webloom::FileDialogState &) override { return false; }
    int messages = 0;
};

QTemporaryDir &tempRoot()
{
    static QTemporaryDir root;
    return root;
}

// One photo folder per size, made once and shared by the repetitions.
const QString &photoFolder(qint64 count)
{
    static std::map<qint64, QString> folders;
    auto found = folders.find(count);
    if (found != folders.end())
        return found->second;
    const QString folder = tempRoot().filePath(QStringLiteral("photos%1").arg(count));
    QDir().mkpath(folder);
    for (qint64 i = 1; i <= count; ++i) {
        QFile f(QDir(folder).filePath(QStringLiteral("dsc%1.jpg").arg(i, 6, 10, QLatin1Char('0'))));
        f.open(QIODevice::WriteOnly);
    }
    return folders.emplace(count, folder).first->second;
}

// A photo-tab document whose pages go into site and whose photos are the
// count files of the shared folder; false when the folder cannot be listed.
bool setUp(webloom::SiteDocument &doc, const QString &site, qint64 count)
{
    const QString photos = photoFolder(count);
    QDir().mkpath(site);
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
    return doc.pointFile1(photos);
}

bool build(webloom::SiteDocument &doc, webloom::Prompter &prompter)
{
    webloom::PageFrame frame(doc, prompter);
    const bool written = webloom::chkpic(frame) == webloom::PageResult::Written;
    benchmark::DoNotOptimize(frame.writtenFiles().size());
    return written;
}

void BM_PhotoPages(benchmark::State &state)
{
    const qint64 count = state.range(0);
    webloom::SiteDocument doc;
    if (!setUp(doc, tempRoot().filePath(QStringLiteral("site%1").arg(count)), count)) {
        state.SkipWithError("photo folder cannot be listed");
        return;
    }
    CountingPrompter prompter;
    for (auto _ : state) {
        if (!build(doc, prompter)) {
            state.SkipWithError("the pages were not written");
            return;
        }
    }
    state.SetComplexityN(count);
    state.SetItemsProcessed(state.iterations() * count);
    state.counters["pages"] = static_cast<double>(doc.itemCount(webloom::ListId::List1));
}

BENCHMARK(BM_PhotoPages)->Arg(10000)->Arg(20000)->Arg(40000)->Unit(benchmark::kMillisecond)->Complexity(benchmark::oN);

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double millisecondsSince(const std::chrono::steady_clock::time_point &start)
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

// Each repetition, into folders not used before (a folder emptied just
// before makes the file system look for inodes it may not reuse yet, which
// would measure the benchmark's own deletions): the first build, `cp -r` of
// its output, and a rebuild with nothing changed. The time shown is that of
// the first build; the counters give the medians and the ratios to `cp -r`.
void BM_PagesBesideCopy(benchmark::State &state)
{
    webloom::SiteDocument doc;
    CountingPrompter prompter;
    std::vector<double> first, copy, rebuild;
    int round = 0;
    for (auto _ : state) {
        const QString site = tempRoot().filePath(QStringLiteral("first%1").arg(round));
        const QString copied = tempRoot().filePath(QStringLiteral("copied%1").arg(round++));
        if (!setUp(doc, site, kComparedPhotos)) {
            state.SkipWithError("photo folder cannot be listed");
            return;
        }
        auto start = std::chrono::steady_clock::now();
        if (!build(doc, prompter)) {
            state.SkipWithError("the pages were not written");
            return;
        }
        first.push_back(millisecondsSince(start));
        state.SetIterationTime(first.back() / 1e3);

        start = std::chrono::steady_clock::now();
        if (QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-r"), site, copied}) != 0) {
            state.SkipWithError("cp -r failed");
            return;
        }
        copy.push_back(millisecondsSince(start));

        start = std::chrono::steady_clock::now();
        if (!build(doc, prompter)) {
            state.SkipWithError("the pages were not written again");
            return;
        }
        rebuild.push_back(millisecondsSince(start));
    }
    const double cp = median(copy);
    state.counters["pages"] = static_cast<double>(doc.itemCount(webloom::ListId::List1));
    state.counters["first_ms"] = median(first);
    state.counters["rebuild_ms"] = median(rebuild);
    state.counters["cp_r_ms"] = cp;
    state.counters["first/cp_r"] = cp > 0 ? median(first) / cp : 0;
    state.counters["rebuild/cp_r"] = cp > 0 ? median(rebuild) / cp : 0;
}

BENCHMARK(BM_PagesBesideCopy)->Iterations(7)->UseManualTime()->Unit(benchmark::kMillisecond);

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
