#pragma once

#include <QString>

// A pseudo-terminal pair for serial-link tests: the test holds the master side,
// the code under test opens the slave by name like any serial port.
class ZoTestPty
{
public:
    ZoTestPty();
    ~ZoTestPty();
    ZoTestPty(const ZoTestPty &) = delete;
    ZoTestPty &operator=(const ZoTestPty &) = delete;

    bool isValid() const { return m_master >= 0; }
    int masterFd() const { return m_master; }
    QString slaveName() const { return m_slaveName; }

    // Writes all of data to the master side; false on error.
    bool write(const QByteArray &data);
    // Reads what arrives on the master side until count bytes are in or
    // timeoutMs passes; returns what was read.
    QByteArray read(int count, int timeoutMs);
    // Waits until at least count bytes written to the master are queued for
    // readers of the slave side (the pty moves them over asynchronously), so
    // that a burst is seen by the code under test as one burst.
    bool waitQueued(int count, int timeoutMs);

private:
    int m_master = -1;
    int m_slave = -1;
    QString m_slaveName;
};
