// SPDX-License-Identifier: MIT
#pragma once
// The serial port object of the main window: the eight operations the program
// uses (CommPort, Settings, InputLen, PortOpen, RTSEnable, DTREnable, Output,
// Input), as an interface so that tests and the simulator can stand in for
// the real line.

#include <QByteArray>
#include <QObject>
#include <QString>

class ComPortMap;

class PortObject : public QObject
{
    Q_OBJECT
public:
    explicit PortObject(QObject *parent = nullptr) : QObject(parent) {}
    ~PortObject() override = default;

    // Port number (COM 1 to COM 6) that the next open uses.
    virtual void CommPort(int number) = 0;
    virtual int CommPort() const = 0;
    // Line format such as "9600,N,8,1" for the next open. A text outside the
    // supported values is refused whole: returns false and leaves the previous
    // settings in force; errorText() says why.
    virtual bool Settings(const QString &settings) = 0;
    virtual QString Settings() const = 0;
    // 0: every Input returns everything received so far.
    virtual void InputLen(int len) = 0;
    virtual bool PortOpen() const = 0;
    // true opens with the current CommPort and Settings, false closes.
    // Returns false when the port could not be opened; errorText() says why.
    virtual bool PortOpen(bool open) = 0;
    virtual void RTSEnable(bool on) = 0;
    virtual void DTREnable(bool on) = 0;
    // Queues the bytes for sending and returns at once. True when all of
    // them were taken; false when the port is closed or the write failed
    // (errorText() says why), and then none of them counts as sent, though
    // partlyWritten() of them may have gone out.
    virtual bool Output(const QByteArray &data) = 0;
    // After an Output() that returned false: how many of its first bytes
    // went out before the driver refused the rest (0 when none did).
    virtual qsizetype partlyWritten() const { return 0; }
    // All bytes received and not yet read; never blocks.
    virtual QByteArray Input() = 0;
    // Throws away what the driver still holds of the input (after the
    // pending bytes were read): nothing that came before can reach a later read.
    virtual void flushInput() {}

    // Why the last open, settings change or write failed.
    virtual QString errorText() const = 0;
    // What the last open did beyond the usual, for the user to see (a stale
    // lock file taken over); empty when nothing.
    virtual QString openNote() const { return {}; }
    // The device the port opens (or opened), for messages and the window.
    virtual QString deviceName() const = 0;
    // Lets the reply wait pace its polls: returns as soon as input is pending,
    // or after at most maxMicroseconds. Must not process window events.
    virtual void waitForInput(int maxMicroseconds) { Q_UNUSED(maxMicroseconds); }
    // True when the port's input wakes the window's event loop (a read
    // notifier), so a reply wait may block in it while the line is idle.
    virtual bool waitMayBlock() const { return false; }
    // The mapping of port numbers to devices that the next open uses (for
    // ports that open devices; others ignore it).
    virtual void usePortMap(ComPortMap *map) { Q_UNUSED(map); }

signals:
    // Input arrived (emitted from the event loop, on ports with a read
    // notifier): read it now, or the far end may be held back.
    void inputArrived();
    // The open port was lost (device gone, far end closed). Emitted once; the
    // port is closed when the signal arrives.
    void portLost(const QString &reason);
};
