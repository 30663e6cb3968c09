// SPDX-License-Identifier: MIT
#include "support/RecordingPort.h"

#include "serial/QtSerialPortObject.h"

RecordingPort::RecordingPort(QObject *parent) : PortObject(parent), m_inner(new QtSerialPortObject(this))
{
    connect(m_inner, &PortObject::portLost, this, [this](const QString &reason) {
        ++losses;
        writesAtLoss = writes.size();
        emit portLost(reason);
    });
}

QByteArray RecordingPort::written() const
{
    QByteArray all;
    for (const Write &w : writes)
        all += w.bytes;
    return all;
}

void RecordingPort::CommPort(int number) { m_inner->CommPort(number); }
int RecordingPort::CommPort() const { return m_inner->CommPort(); }
bool RecordingPort::Settings(const QString &settings) { return m_inner->Settings(settings); }
QString RecordingPort::Settings() const { return m_inner->Settings(); }
void RecordingPort::InputLen(int len) { m_inner->InputLen(len); }
bool RecordingPort::PortOpen() const { return m_inner->PortOpen(); }

bool RecordingPort::PortOpen(bool open)
{
    const bool ok = m_inner->PortOpen(open);
    // A fresh open starts a new line: a later loss is counted from here.
    if (open && ok)
        writesAtLoss = -1;
    return ok;
}

void RecordingPort::RTSEnable(bool on) { m_inner->RTSEnable(on); }
void RecordingPort::DTREnable(bool on) { m_inner->DTREnable(on); }

bool RecordingPort::Output(const QByteArray &data)
{
    writes.append({data, m_inner->PortOpen()});
    return m_inner->Output(data);
}

QByteArray RecordingPort::Input() { return m_inner->Input(); }
QString RecordingPort::errorText() const { return m_inner->errorText(); }
QString RecordingPort::deviceName() const { return m_inner->deviceName(); }
void RecordingPort::waitForInput(int maxMicroseconds) { m_inner->waitForInput(maxMicroseconds); }
bool RecordingPort::waitMayBlock() const { return m_inner->waitMayBlock(); }
void RecordingPort::usePortMap(ComPortMap *map) { m_inner->usePortMap(map); }
