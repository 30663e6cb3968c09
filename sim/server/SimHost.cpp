// SPDX-License-Identifier: MIT
#include "sim/server/SimHost.h"

#include <QThread>

SimHost::SimHost(const SimConfig &config, QObject *parent)
    : QObject(parent)
    , m_server(new SimServer(config))
    , m_thread(new QThread)
{
    m_thread->setObjectName(QStringLiteral("orna-sim"));
}

SimHost::~SimHost()
{
    stop();
    delete m_server;
    delete m_thread;
}

QString SimHost::start(QString *error)
{
    if (!m_thread->isRunning()) {
        m_server->moveToThread(m_thread);
        m_thread->start();
    }
    bool ok = false;
    QString why;
    QMetaObject::invokeMethod(m_server, [this, &ok, &why] { ok = m_server->start(&why); },
                              Qt::BlockingQueuedConnection);
    if (!ok) {
        if (error)
            *error = why;
        return {};
    }
    return m_server->devicePath();
}

void SimHost::stop()
{
    if (!m_thread->isRunning())
        return;
    QThread *home = thread();
    // The server closes its line on its own thread and comes home before
    // that thread ends, so it can be started again or destroyed here.
    QMetaObject::invokeMethod(m_server, [this, home] {
        m_server->stop();
        m_server->moveToThread(home);
    }, Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
}

bool SimHost::isServing() const
{
    return m_server->isServing();
}

QString SimHost::devicePath() const
{
    return m_server->devicePath();
}
