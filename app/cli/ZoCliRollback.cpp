#include "ZoCliRollback.h"

#include "ZoCliOptions.h"
#include "ZoCliPrinter.h"
#include "ZoUpgradeWorkflow.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <utility>

#include <unistd.h>

ZoCliRollback::ZoCliRollback(
    const ZoCliOptions &options, ZoUpgradeWorkflow *engine, ZoCliPrinter *out, QObject *parent)
    : QObject(parent)
    , m_options(options)
    , m_engine(engine)
    , m_out(out)
{
    connect(m_engine, &ZoUpgradeWorkflow::sigRollbackRefused, this,
        [this](const QString &text) { Q_EMIT sigRefused(text); });
}

ZoCliRollback::~ZoCliRollback() = default;

bool ZoCliRollback::stdinIsTerminal()
{
    return ::isatty(STDIN_FILENO) == 1;
}

void ZoCliRollback::begin(const QString &eid, const QString &linkText)
{
    if (!m_options.historyEid.isEmpty() && m_options.historyEid != eid) {
        Q_EMIT sigRefused(QStringLiteral("--eid %1 was given, but the aircraft on %2 has EID %3: "
                                         "nothing is rolled back")
                              .arg(m_options.historyEid, linkText,
                                  eid.isEmpty() ? QStringLiteral("(none told)") : eid));
        return;
    }
    m_out->say(QStringLiteral("reading what the latest run on aircraft %1 changed ...").arg(eid));
    m_engine->rollBack();
}

void ZoCliRollback::answer(int button)
{
    // Never from inside the engine's own signal.
    const int id = std::exchange(m_question, 0);
    QTimer::singleShot(0, m_engine, [e = m_engine, id, button] { e->answer(id, button); });
}

void ZoCliRollback::onQuestion(int id, const QString &text)
{
    m_question = id;
    m_out->say(QStringLiteral("question: %1").arg(text));
    if (m_options.yes) {
        m_out->say(QStringLiteral("-> Yes (--yes)"));
        return answer(ZoUpgradeWorkflow::ButtonYes);
    }
    if (!stdinIsTerminal()) {
        // A script that did not say --yes has not agreed to anything.
        answer(ZoUpgradeWorkflow::ButtonNo);
        Q_EMIT sigRefused(QStringLiteral("the rollback needs a Yes: give --yes, or run it on a "
                                         "terminal to be asked; nothing is rolled back"));
        return;
    }
    Q_EMIT sigAskingUser();
    std::fputs("Roll these back? [y/N] ", stdout);
    std::fflush(stdout);
    m_stdin = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
    connect(m_stdin.get(), &QSocketNotifier::activated, this, &ZoCliRollback::onTerminalLine);
}

void ZoCliRollback::onTerminalLine()
{
    m_stdin->setEnabled(false);
    m_stdin.release()->deleteLater();
    // A terminal hands over whole lines: the one typed is there to read.
    char line[64] = {};
    const QString typed = std::fgets(line, sizeof line, stdin)
        ? QString::fromLocal8Bit(line).trimmed().toLower()
        : QString();
    if (typed == QLatin1String("y") || typed == QLatin1String("yes"))
        return answer(ZoUpgradeWorkflow::ButtonYes);
    answer(ZoUpgradeWorkflow::ButtonNo);
    Q_EMIT sigRefused(QStringLiteral("answered No: nothing is rolled back"));
}
