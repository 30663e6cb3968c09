// SPDX-License-Identifier: MIT
#include "BenchCommon.h"

#include "app/frmMain.h"
#include "serial/ComPortMap.h"
#include "serial/PortObject.h"
#include "serial/frmPorts.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/resource.h>

namespace bench {

void QuietSeams::runPortsDialog(frmPorts &d)
{
    d.optBaud_Click(baudIndex);
    d.optCh8_Click();
    d.cmdCOM1_Click();
    d.cmdExit_Click();
}

void useOffscreenPlatform()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

bool openLine(frmMain &w, const QString &device)
{
    w.portMap().setDevice(1, device);
    w.cmdInit_Click();
    if (!w.MSComm1->PortOpen()) {
        std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(device), qPrintable(w.errorText()));
        return false;
    }
    return true;
}

void settle(frmMain &w, int milliseconds)
{
    const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
    while (Clock::now() < end) {
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
    w.drainInput();
}

bool enterX328(frmMain &w, int attempts)
{
    w.combCmd->setEditText(QStringLiteral("SYST:LANG X3.28"));
    w.cmdSend_Click();
    settle(w, 50);
    w.txtAddr->setText(QStringLiteral("1"));
    for (int i = 0; i < attempts; ++i) {
        w.cmdSet_Click();
        if (w.AddrSetFlg && w.cmdMode == "X3.28")
            break;
        settle(w, 50);
    }
    if (!w.AddrSetFlg || w.cmdMode != "X3.28") {
        std::fprintf(stderr, "X3.28 link not opened: %s\n", qPrintable(w.errorText()));
        return false;
    }
    return true;
}

void leaveX328(frmMain &w)
{
    w.combCmd->setEditText(QStringLiteral("@@@"));
    w.cmdSend_Click();
    settle(w, 50);
}

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

double cpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

long long residentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stoll(line.substr(6));
    return 0;
}

double median(std::vector<double> v)
{
    return percentile(std::move(v), 0.5);
}

double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * double(v.size())))];
}

} // namespace bench
