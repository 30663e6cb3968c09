// SPDX-License-Identifier: MIT
#pragma once
// A port object for tests: records every write and delivers scripted bytes at
// chosen polls (counted as Input calls after a write).

#include "serial/PortObject.h"

#include <QList>
#include <functional>

// Bytes the port delivers at poll `poll` after the write-th write from now.
struct Reply
{
    int write;
    qint64 poll;
    QByteArray bytes;
};

class ScriptPort : public PortObject
{
    Q_OBJECT
public:
    using PortObject::PortObject;

    // Bytes to deliver on the atPoll-th Input call after write number
    // writeIndex (0 is the first write). atPoll counts from 1.
    void replyTo(int writeIndex, qint64 atPoll, const QByteArray &bytes);
    // The same for the next write still to come.
    void replyToNext(qint64 atPoll, const QByteArray &bytes) { replyTo(int(writes.size()), atPoll, bytes); }
    // Replies relative to the writes still to come.
    void script(const QList<Reply> &replies);
    // Bytes pending right now (the next Input returns them).
    void inject(const QByteArray &bytes) { m_pending += bytes; }
    // Called on every write, e.g. to script replies from what was written.
    std::function<void(ScriptPort &, const QByteArray &)> responder;

    QList<QByteArray> writes;
    // Writes attempted while the port was closed (not delivered, not in writes).
    int closedWrites = 0;
    QByteArray written() const;
    qint64 inputCalls = 0;
    int openCount = 0;
    bool failOpen = false;
    QString failReason = QStringLiteral("no such device");
    bool rts = false;
    bool dtr = false;

    // The line goes at the next write, before any byte of it leaves.
    bool loseOnWrite = false;
    // The line goes at the next read, which still returns what was pending
    // (a hang-up that the read finds).
    bool loseOnRead = false;
    // Lets a reply wait block in the event loop while nothing is pending (a
    // real port's read notifier wakes it; here only window events and the
    // wait's own timer do).
    bool mayBlock = false;
    bool waitMayBlock() const override { return mayBlock && m_open; }
    // Simulates the device going away: closes and signals the loss.
    void loseLine(const QString &reason = QStringLiteral("the far end hung up"));

    void CommPort(int number) override { m_commPort = number; }
    int CommPort() const override { return m_commPort; }
    bool Settings(const QString &settings) override;
    QString Settings() const override { return m_settings; }
    void InputLen(int) override {}
    bool PortOpen() const override { return m_open; }
    bool PortOpen(bool open) override;
    void RTSEnable(bool on) override { rts = on; }
    void DTREnable(bool on) override { dtr = on; }
    bool Output(const QByteArray &data) override;
    QByteArray Input() override;
    QString errorText() const override { return m_error; }
    QString deviceName() const override { return QStringLiteral("/dev/script%1").arg(m_commPort); }

private:
    struct Delivery
    {
        int afterWrite;
        qint64 atPoll;
        QByteArray bytes;
    };
    QList<Delivery> m_script;
    QByteArray m_pending;
    qint64 m_pollsSinceWrite = 0;
    int m_commPort = 0;
    QString m_settings;
    QString m_error;
    bool m_open = false;
};
