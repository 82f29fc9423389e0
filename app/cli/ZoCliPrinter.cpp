#include "ZoCliPrinter.h"

#include <QJsonDocument>
#include <QStringList>
#include <QThread>
#include <QVector>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr int kBarWidth = 24;
constexpr int kRedrawMs = 100;

// Events' "t" counts from the program's first printer, so that the runs a
// station starts one after another share one time line.
qint64 msSinceFirstPrinter()
{
    static const QElapsedTimer clock = [] {
        QElapsedTimer c;
        c.start();
        return c;
    }();
    return clock.elapsed();
}

QString rateText(double bytesPerSecond)
{
    if (bytesPerSecond >= 1024.0 * 1024.0)
        return QStringLiteral("%1 MiB/s").arg(bytesPerSecond / (1024.0 * 1024.0), 0, 'f', 1);
    if (bytesPerSecond >= 1024.0)
        return QStringLiteral("%1 KiB/s").arg(bytesPerSecond / 1024.0, 0, 'f', 1);
    return QStringLiteral("%1 B/s").arg(bytesPerSecond, 0, 'f', 0);
}

// The East Asian Wide and Fullwidth blocks: Hangul, CJK, kana, Yi and the
// fullwidth forms. Ranges, not the full table: what a device name or a
// translated text carries is in them.
bool isWide(uint c)
{
    static constexpr uint ranges[][2] = {{0x1100, 0x115F}, {0x2E80, 0x303E}, {0x3041, 0x33FF},
        {0x3400, 0x4DBF}, {0x4E00, 0x9FFF}, {0xA000, 0xA4CF}, {0xA960, 0xA97F}, {0xAC00, 0xD7A3},
        {0xF900, 0xFAFF}, {0xFE10, 0xFE19}, {0xFE30, 0xFE6F}, {0xFF00, 0xFF60}, {0xFFE0, 0xFFE6},
        {0x20000, 0x2FFFD}, {0x30000, 0x3FFFD}};
    for (const auto &r : ranges)
        if (c >= r[0] && c <= r[1])
            return true;
    return false;
}

} // namespace

ZoCliPrinter *ZoCliPrinter::s_active = nullptr;
QtMessageHandler ZoCliPrinter::s_previousHandler = nullptr;

ZoCliPrinter::ZoCliPrinter(bool tty, const QString &prefix)
    : m_tty(tty)
    , m_prefix(prefix)
    , m_thread(QThread::currentThread())
{
    m_clock.start();
    msSinceFirstPrinter();
    if (!s_active) {
        s_active = this;
        s_previousHandler = qInstallMessageHandler(&ZoCliPrinter::onLogMessage);
    }
}

ZoCliPrinter::~ZoCliPrinter()
{
    if (s_active == this) {
        qInstallMessageHandler(s_previousHandler);
        s_active = nullptr;
        s_previousHandler = nullptr;
    }
}

bool ZoCliPrinter::stdoutIsTerminal()
{
    return ::isatty(::fileno(stdout)) == 1;
}

int ZoCliPrinter::displayWidth(const QString &text)
{
    int cells = 0;
    for (const uint c : text.toUcs4()) {
        const QChar::Category category = QChar::category(c);
        if (category == QChar::Mark_NonSpacing || category == QChar::Mark_Enclosing
            || category == QChar::Other_Format)
            continue;
        cells += isWide(c) ? 2 : 1;
    }
    return cells;
}

void ZoCliPrinter::onLogMessage(
    QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (s_active)
        s_active->closeProgressLine();
    if (s_previousHandler)
        s_previousHandler(type, context, text);
}

void ZoCliPrinter::closeProgressLine()
{
    // Also called from the looper's thread (through the log handler): the
    // flag is the only state touched there.
    if (m_lineOpen.exchange(false)) {
        std::fputs("\n", stdout);
        std::fflush(stdout);
    }
    if (QThread::currentThread() == m_thread)
        m_drawnKey = ZoDeviceKey();
}

void ZoCliPrinter::say(const QString &line)
{
    closeProgressLine();
    FILE *to = m_json ? stderr : stdout;
    std::fputs(qUtf8Printable(m_prefix + line + QLatin1Char('\n')), to);
    std::fflush(to);
}

void ZoCliPrinter::setJsonEvents(const QString &link)
{
    m_json = true;
    m_link = link;
}

void ZoCliPrinter::event(const QString &name, const QJsonObject &fields)
{
    eventFor(m_link, name, fields);
}

void ZoCliPrinter::eventFor(const QString &link, const QString &name, const QJsonObject &fields)
{
    if (!m_json)
        return;
    QJsonObject o = fields;
    o.insert(QStringLiteral("t"), msSinceFirstPrinter());
    o.insert(QStringLiteral("link"), link);
    o.insert(QStringLiteral("event"), name);
    std::fputs(QJsonDocument(o).toJson(QJsonDocument::Compact).append('\n').constData(), stdout);
    std::fflush(stdout);
}

void ZoCliPrinter::deviceEvent(
    const QString &name, const ZoCliDevice &device, const QJsonObject &fields)
{
    QJsonObject o = fields;
    o.insert(QStringLiteral("key"), device.key.packed());
    o.insert(QStringLiteral("type"), device.type);
    o.insert(QStringLiteral("number"), device.deviceNumber);
    event(name, o);
}

void ZoCliPrinter::complain(const QString &line)
{
    closeProgressLine();
    std::fputs(
        qUtf8Printable(QStringLiteral("tolvane-cli: ") + m_prefix + line + QLatin1Char('\n')),
        stderr);
    std::fflush(stderr);
}

void ZoCliPrinter::table(const QList<ZoCliDevice> &devices, bool after)
{
    QStringList head {QStringLiteral("NAME"), QStringLiteral("TYPE"), QStringLiteral("DEV"),
        QStringLiteral("SERIAL"), QStringLiteral("STATE"), QStringLiteral("CURRENT"),
        QStringLiteral("TARGET"), QStringLiteral("DUE")};
    if (after)
        head << QStringLiteral("RESULT") << QStringLiteral("NOW") << QStringLiteral("CONFIRMED");
    QList<QStringList> rows {head};
    int folded = 0;
    for (const ZoCliDevice &d : devices) {
        if (d.optional && !m_verbose) {
            ++folded;
            continue;
        }
        QStringList row {d.name, QString::number(d.type), QString::number(d.deviceNumber),
            d.serial.isEmpty() ? QStringLiteral("-") : d.serial,
            d.missing ? QStringLiteral("MISSING") : ZoCliDevice::stateName(d.presence),
            d.presence == ZoDevFMInfo::Presence::NotAnswering ? QStringLiteral("-")
                                                              : ZoCliDevice::versionText(d.before),
            d.hasTarget ? ZoCliDevice::versionText(d.target) : QStringLiteral("-"),
            d.due ? QStringLiteral("yes") : QStringLiteral("no")};
        if (after) {
            using Result = ZoDeviceOutcome::Result;
            tVersion now;
            row << ZoCliDevice::resultName(d.outcome.result)
                << (d.versionAfter(now) ? ZoCliDevice::versionText(now) : QStringLiteral("-"))
                << (d.outcome.result == Result::Upgraded           ? QStringLiteral("yes")
                           : d.outcome.result == Result::NotConfirmed ? QStringLiteral("NO")
                                                                      : QStringLiteral("-"));
        }
        rows << row;
    }
    QVector<int> width(head.size(), 0);
    for (const QStringList &row : qAsConst(rows))
        for (int i = 0; i < row.size(); ++i)
            width[i] = std::max(width[i], displayWidth(row.at(i)));
    for (const QStringList &row : qAsConst(rows)) {
        QString line;
        for (int i = 0; i < row.size(); ++i) {
            // Names left, numbers right, like any listing of figures.
            const bool left = i == 0 || i == 3 || i == 4;
            const QString pad(width[i] - displayWidth(row.at(i)), QLatin1Char(' '));
            const QString cell = left ? row.at(i) + pad : pad + row.at(i);
            line += (i ? QStringLiteral("  ") : QString()) + cell;
        }
        say(QStringLiteral("  ") + line);
    }
    if (folded > 0)
        say(QStringLiteral("  %1 optional module%2 did not answer (--verbose lists them)")
                .arg(folded)
                .arg(folded == 1 ? QString() : QStringLiteral("s")));
}

void ZoCliPrinter::progressBegins(ZoDeviceKey key, int maximum)
{
    closeProgressLine();
    Progress p;
    p.maximum = maximum;
    m_progress[key] = p;
}

void ZoCliPrinter::progress(
    const ZoCliDevice &device, int value, int blocksSent, const ZoDevicePhase &now)
{
    auto it = m_progress.find(device.key);
    if (it == m_progress.end())
        return;
    it->value = value;
    it->now = now;
    draw(device, *it, blocksSent, false);
}

void ZoCliPrinter::phase(const ZoCliDevice &device, const ZoDevicePhase &now)
{
    auto it = m_progress.find(device.key);
    if (it != m_progress.end())
        it->now = now;
    const QString mark = now.mayPowerOff() ? QStringLiteral("it may be unplugged")
                                           : QStringLiteral("do not power off or unplug");
    if (m_json) {
        deviceEvent(QStringLiteral("phase"), device,
            {{QStringLiteral("phase"), ZoDevicePhase::name(now.phase)},
                {QStringLiteral("mayPowerOff"), now.mayPowerOff()},
                {QStringLiteral("bytesPerSecond"), qRound64(now.bytesPerSecond)},
                {QStringLiteral("etaSeconds"), now.etaSeconds}});
        return;
    }
    // On a terminal the progress line names the phase; a log gets a line
    // where the power may be cut again and where it may not.
    if (!m_tty && (now.phase == ZoDevicePhase::Entering || now.phase == ZoDevicePhase::Restarting))
        say(QStringLiteral("  %1 %2: %3").arg(device.name, ZoDevicePhase::name(now.phase), mark));
}

void ZoCliPrinter::progressEnds(const ZoCliDevice &device, int blocksSent)
{
    if (m_tty && m_drawnKey == device.key && m_progress.contains(device.key))
        draw(device, m_progress[device.key], blocksSent, true);
    closeProgressLine();
}

void ZoCliPrinter::draw(const ZoCliDevice &d, Progress &p, int blocksSent, bool final)
{
    const int maximum = std::max(p.maximum, 1);
    const int value = std::clamp(p.value, 0, maximum);
    const int percent = int(qint64(value) * 100 / maximum);
    const qint64 now = m_clock.elapsed();
    const double rate = p.now.bytesPerSecond;
    const QString left = p.now.etaSeconds >= 0 ? QStringLiteral("%1 s").arg(p.now.etaSeconds)
                                               : QStringLiteral("--");
    const QString figures = QStringLiteral("%1, %2 blocks, %3, %4 left")
                                .arg(ZoDevicePhase::name(p.now.phase))
                                .arg(blocksSent)
                                .arg(rate > 0 ? rateText(rate) : QStringLiteral("-- B/s"), left);
    if (m_tty) {
        if (!final && p.drawnMs >= 0 && now - p.drawnMs < kRedrawMs && percent < 100)
            return;
        p.drawnMs = now;
        if (m_drawnKey != d.key)
            closeProgressLine();
        const int filled = percent * kBarWidth / 100;
        const QString bar
            = QString(filled, QLatin1Char('#')) + QString(kBarWidth - filled, QLatin1Char('-'));
        const QString line = QStringLiteral("\r\033[K  %1 [%2] %3%  %4")
                                 .arg(d.name, bar)
                                 .arg(percent, 3)
                                 .arg(figures);
        std::fputs(qUtf8Printable(line), stdout);
        std::fflush(stdout);
        m_drawnKey = d.key;
        m_lineOpen = true;
        return;
    }
    const int decile = percent / 10;
    if (decile <= p.lastDecile || decile == 0)
        return;
    p.lastDecile = decile;
    if (m_json) {
        deviceEvent(QStringLiteral("progress"), d,
            {{QStringLiteral("percent"), decile * 10}, {QStringLiteral("blocks"), blocksSent},
                {QStringLiteral("phase"), ZoDevicePhase::name(p.now.phase)},
                {QStringLiteral("mayPowerOff"), p.now.mayPowerOff()},
                {QStringLiteral("bytesPerSecond"), qRound64(rate)},
                {QStringLiteral("etaSeconds"), p.now.etaSeconds}});
        return;
    }
    say(QStringLiteral("  %1 %2%  %3").arg(d.name).arg(decile * 10).arg(figures));
}
