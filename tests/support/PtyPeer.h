// SPDX-License-Identifier: MIT
#pragma once
// The far end of a pseudo-terminal for tests: the program opens slavePath()
// through its real serial code; the test reads and writes the master side.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>
#include <sys/types.h>

class PortObject;
class QSocketNotifier;

// Reads a port until `want` bytes came or it stayed quiet for quietMs.
QByteArray readPortFor(PortObject &port, qsizetype want, int quietMs);

class PtyPeer : public QObject
{
    Q_OBJECT
public:
    explicit PtyPeer(QObject *parent = nullptr);
    ~PtyPeer() override;

    bool isValid() const { return m_master >= 0; }
    QString slavePath() const { return m_slavePath; }

    // Everything the program has written so far (read as events run).
    QByteArray received() const { return m_received; }
    void clearReceived() { m_received.clear(); }
    // Reads what is pending now, without waiting for events.
    void pump();
    void write(const QByteArray &bytes);
    // Writes as the line takes them, as a far end does: what does not fit
    // now goes as room frees, while events run.
    void writeQueued(const QByteArray &bytes);
    // Bytes of writeQueued() not yet taken by the line.
    qsizetype queued() const { return m_queue.size(); }
    // Called with each chunk the program writes; may answer with write().
    std::function<void(const QByteArray &)> onData;
    // Hangs up: closes the master side, as an unplugged line would.
    void hangUp();
    // The line settings the program asked of this pseudo-terminal (through
    // tcsetattr on any descriptor of its device), e.g. "9600 8N1", with
    // " rtscts" or " xonxoff" when a flow control is on; empty when none were
    // asked. A pseudo-terminal keeps the rate but resets the character size
    // and parity to 8 bits without parity, so reading its settings back would
    // not show what the program asked for.
    QString requestedLine() const;
    // Stops reading what the program writes (a far end that stops reading:
    // its input fills up), or reads again; pump() reads all the same.
    void setReading(bool reading);
    // Ends the slave's exclusive mode (TIOCEXCL). A device that every
    // program has closed loses it; this one stays open through the peer's
    // own keeper descriptor, so it outlives the program that set it.
    void clearExclusive();

private:
    void readable();
    void writable();

    int m_master = -1;
    int m_slaveKeep = -1;
    dev_t m_device = 0; // the device number of the slave side
    QString m_slavePath;
    QByteArray m_received;
    QSocketNotifier *m_notifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QByteArray m_queue;
};
