// SPDX-License-Identifier: MIT
#pragma once
// A port object that hands every operation to the real serial code
// (QtSerialPortObject) and records each write, also those made while the
// port is closed, and where the writes stood when the line was lost. End-to-
// end tests use it to see that nothing is written after a loss.

#include "serial/PortObject.h"

#include <QList>

class QtSerialPortObject;

class RecordingPort : public PortObject
{
    Q_OBJECT
public:
    explicit RecordingPort(QObject *parent = nullptr);

    struct Write
    {
        QByteArray bytes;
        bool portOpen = false; // whether the port was open when it was written
    };
    QList<Write> writes;
    // writes.size() when the line was lost; -1 while it has not been.
    qsizetype writesAtLoss = -1;
    int losses = 0;

    // Writes made after the loss (0 when the line was never lost).
    qsizetype writesAfterLoss() const { return writesAtLoss < 0 ? 0 : writes.size() - writesAtLoss; }
    // Everything written, joined.
    QByteArray written() const;

    QtSerialPortObject &inner() const { return *m_inner; }

    void CommPort(int number) override;
    int CommPort() const override;
    bool Settings(const QString &settings) override;
    QString Settings() const override;
    void InputLen(int len) override;
    bool PortOpen() const override;
    bool PortOpen(bool open) override;
    void RTSEnable(bool on) override;
    void DTREnable(bool on) override;
    bool Output(const QByteArray &data) override;
    QByteArray Input() override;
    QString errorText() const override;
    QString deviceName() const override;
    void waitForInput(int maxMicroseconds) override;
    bool waitMayBlock() const override;
    void usePortMap(ComPortMap *map) override;

private:
    QtSerialPortObject *m_inner;
};
