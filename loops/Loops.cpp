// SPDX-License-Identifier: MIT
#include "app/frmMain.h"

#include "app/TranscriptBox.h"
#include "serial/PortObject.h"

#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>

void frmMain::cmdCmdtst_Click()
{
    if (combCmd->currentText().isEmpty()) {
        beep();
        resultsReplace("No command specified.  Enter a command before starting the Command Loop");
        return;
    }
    // A loop that starts counts from zero; pressing Start on a running loop
    // (to reach its Stop button after a mode change) keeps its count.
    if (CMDloopFlg == 0) {
        m_cmdStats.reset(QDateTime::currentMSecsSinceEpoch());
        loopStatsChanged();
    }
    CMDloopFlg = 1;
    cmdCmdtstoff->setEnabled(true);
    cmdCmdtst->setEnabled(false);
}

void frmMain::cmdCmdtstoff_Click()
{
    CMDloopFlg = 0;
    if (QloopFlg == 0) {
        txtCount->hide();
        lblCount->hide();
        LpCount = 0;
    }
    cmdCmdtstoff->setEnabled(false);
    cmdCmdtst->setEnabled(true);
}

void frmMain::cmdQtst_Click()
{
    if (combQuery->currentText().isEmpty()) {
        beep();
        resultsReplace("No query specified.  Enter a command before starting the Command Loop");
        return;
    }
    if (QloopFlg == 0) {
        m_queryStats.reset(QDateTime::currentMSecsSinceEpoch());
        loopStatsChanged();
    }
    QloopFlg = 1;
    cmdQtst->setEnabled(false);
    cmdQtstOff->setEnabled(true);
}

void frmMain::cmdQtstOff_Click()
{
    QloopFlg = 0;
    if (CMDloopFlg == 0) {
        txtCount->hide();
        lblCount->hide();
        LpCount = 0;
    }
    cmdQtst->setEnabled(true);
    cmdQtstOff->setEnabled(false);
}

void frmMain::optTime_Click(int index)
{
    static constexpr int intervals[] = {100, 200, 300, 500, 1000};
    if (index < 0 || index >= int(std::size(intervals)))
        return;
    Timer1->setInterval(intervals[index]);
}

// One tick: the command exchange, then the query exchange, then one count.
// A tick that falls due while an exchange waits, or while the port is closed,
// is skipped and not counted: it would nest on the line or write to nothing.
void frmMain::Timer1_Timer()
{
    // Between operations the log takes in what came outside them (a loop's
    // refusal, say); an operation's own records follow at its end.
    if (!m_line.busy())
        flushLog();
    if (CMDloopFlg == 0 && QloopFlg == 0) {
        txtCount->hide();
        LpCount = 0;
        return;
    }
    // Each running loop counts the ticks it could not run.
    const auto skipped = [this](qint64 LoopStats::*counter) {
        if (CMDloopFlg == 1)
            ++(m_cmdStats.*counter);
        if (QloopFlg == 1)
            ++(m_queryStats.*counter);
        loopStatsChanged();
    };
    if (m_line.state() == LineLock::State::Idle && !MSComm1->PortOpen()) {
        m_line.tickSkipped();
        skipped(&LoopStats::skippedClosed);
        return;
    }
    if (!m_line.tryBeginTick()) {
        if (m_line.busy())
            skipped(&LoopStats::skippedBusy);
        return;
    }
    QElapsedTimer took;
    took.start();
    {
        BusyScope busy(*this);
        if (CMDloopFlg == 1) {
            runSend();
            m_cmdStats.add(m_lastResult);
        }
        // The flag is read again: a stop click during the command counts.
        // An exit asked for meanwhile sends nothing more, and neither does a
        // line lost during the command: the loss has been reported, and the
        // query could only report it again over that message.
        if (QloopFlg == 1 && !m_line.stopWaits() && MSComm1->PortOpen()) {
            runQuery();
            m_queryStats.add(m_lastResult);
        }
    }
    // The timer does not tick into its own handler: the ticks that fell due
    // while this one's exchanges waited never arrive, so they are counted
    // here as skipped.
    if (const qint64 missed = took.elapsed() / std::max(1, Timer1->interval()); missed > 0) {
        if (CMDloopFlg == 1)
            m_cmdStats.skippedBusy += missed;
        if (QloopFlg == 1)
            m_queryStats.skippedBusy += missed;
    }
    loopStatsChanged();
    if (m_line.state() == LineLock::State::Exiting)
        return;
    txtCount->show();
    lblCount->show();
    ++LpCount;
    txtCount->setText(QString::number(LpCount));
}
