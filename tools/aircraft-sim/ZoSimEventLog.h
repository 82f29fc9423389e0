#pragma once

#include <QElapsedTimer>
#include <QFile>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <memory>

// One JSON object per line for every request understood, every state change
// and every verification result, so scripts and tests can assert on facts
// instead of timing. Each line carries "t" (ms since start) and "event".
class ZoSimEventLog : public QObject
{
    Q_OBJECT
public:
    explicit ZoSimEventLog(QObject *parent = nullptr);
    ~ZoSimEventLog() override;

    // "-" or an empty path writes to standard output.
    bool open(const QString &path, QString *error);
    // No output at all (the in-process tests listen to the signal instead).
    void setSilent(bool silent) { m_silent = silent; }

    void log(const QString &event, QJsonObject fields = QJsonObject());

Q_SIGNALS:
    void logged(const QJsonObject &entry);

private:
    QElapsedTimer m_clock;
    std::unique_ptr<QFile> m_file;
    bool m_silent = false;
};
