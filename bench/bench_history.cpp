// The flash history at 100,000 rows over 50 aircraft, in a temporary folder:
//   BENCH history_insert_ms_p99 / _min    one append's 99th percentile, per round
//                                         of 1000 appends onto the 100,000
//   BENCH history_query_100k_ms / _min    rows() of one aircraft (2000 rows)
//   BENCH history_bytes_per_row           file size, WAL checkpointed, / rows
//   BENCH history_verify_100k_ms / _min   verify() of the whole chain
// Timed figures are the median of the rounds, and their minimum.
//
//   bench_history [rounds]     (default 5)

#include "ZoFlashHistory.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

constexpr int Rows = 100000;
constexpr int Aircraft = 50;
constexpr int AppendsPerRound = 1000;

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double minimum(const std::vector<double> &v)
{
    return *std::min_element(v.begin(), v.end());
}

double p99(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, v.size() * 99 / 100)];
}

// A flash as a station writes it; fields of realistic length.
ZoFlashHistory::Row flash(int i)
{
    ZoFlashHistory::Row r;
    r.time = QDateTime::fromMSecsSinceEpoch(1767225600000LL + qint64(i) * 61000, Qt::UTC);
    r.host = QStringLiteral("workshop-laptop-2");
    r.user = QStringLiteral("technician");
    r.tool = QStringLiteral("4.12.0");
    r.link = QStringLiteral("tcp:127.0.0.%1:8001").arg(10 + i % Aircraft);
    r.eid = QStringLiteral("3A0042001751333%1").arg(i % Aircraft, 3, 10, QLatin1Char('0'));
    r.type = 20 + i % 7;
    r.number = i % 4;
    r.serial = QStringLiteral("TV%1").arg(100000 + i % 9000);
    r.before = QStringLiteral("2.4.%1").arg(i % 10);
    r.target = r.confirmed = QStringLiteral("2.5.0");
    r.sha256 = QStringLiteral("9f86d081884c7d659a2feaa0c55ad015a3bf4f1b2b0b822cd15d6c15b0f00a08");
    r.size = 262144;
    r.source = QStringLiteral("stable");
    r.result = QStringLiteral("upgraded");
    r.seconds = 40 + (i % 100) / 10.0;
    r.resends = i % 3;
    return r;
}

bool openOrSay(ZoFlashHistory &h)
{
    QString why;
    if (h.open(&why))
        return true;
    std::fprintf(
        stderr, "bench_history: cannot open %s: %s\n", qPrintable(h.path()), qPrintable(why));
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("history.sqlite"));
    {
        ZoFlashHistory h(path);
        if (!openOrSay(h))
            return 1;
        for (int i = 0; i < Rows; ++i) {
            ZoFlashHistory::Row r = flash(i);
            if (!h.append(r))
                return 1;
        }
    } // the last connection closed: the WAL is checkpointed into the file
    const double bytesPerRow
        = double(QFileInfo(path).size() + QFileInfo(path + QStringLiteral("-wal")).size()) / Rows;

    ZoFlashHistory h(path);
    if (!openOrSay(h))
        return 1;
    std::vector<double> query, verify, insert;
    ZoFlashHistory::Filter one;
    one.eid = flash(7).eid;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer t;
        t.start();
        const int found = h.rows(one).size();
        query.push_back(t.nsecsElapsed() / 1e6);
        t.restart();
        const ZoFlashHistory::Verdict v = h.verify();
        verify.push_back(t.nsecsElapsed() / 1e6);
        if (found != Rows / Aircraft || !v.ok || v.rows != Rows) {
            std::fprintf(stderr, "bench_history: %d rows found, verify %s over %lld rows\n", found,
                qPrintable(v.ok ? QStringLiteral("ok") : v.why), v.rows);
            return 1;
        }
    }
    for (int round = 0; round < rounds; ++round) {
        std::vector<double> each;
        for (int i = 0; i < AppendsPerRound; ++i) {
            ZoFlashHistory::Row r = flash(Rows + round * AppendsPerRound + i);
            QElapsedTimer t;
            t.start();
            if (!h.append(r))
                return 1;
            each.push_back(t.nsecsElapsed() / 1e6);
        }
        insert.push_back(p99(each));
    }
    std::printf("BENCH history_insert_ms_p99 %.2f ms\n", median(insert));
    std::printf("BENCH history_insert_ms_p99_min %.2f ms\n", minimum(insert));
    std::printf("BENCH history_query_100k_ms %.1f ms\n", median(query));
    std::printf("BENCH history_query_100k_ms_min %.1f ms\n", minimum(query));
    std::printf("BENCH history_bytes_per_row %.0f bytes\n", bytesPerRow);
    std::printf("BENCH history_verify_100k_ms %.0f ms\n", median(verify));
    std::printf("BENCH history_verify_100k_ms_min %.0f ms\n", minimum(verify));
    return 0;
}
