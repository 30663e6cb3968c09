// SPDX-License-Identifier: MIT
// The main window as the bench's screen: the transcript, the error box, the
// mode rows, the entries and check boxes, the busy notice and the question,
// as the session shows and reads them; and the session's steps by the names
// they always had on the window.

#include "app/frmMain.h"

#include "app/TranscriptBox.h"
#include "app/UiSeams.h"
#include "session/BenchSession.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>

namespace {
const QString kBusyMessage =
    QStringLiteral("Busy: the previous exchange is still waiting for its reply; try again when it ends");
} // namespace

// ---- BenchView

QByteArray frmMain::resultsText() const
{
    return txtResults->bytes();
}

void frmMain::replaceResults(const QByteArray &text)
{
    txtResults->setBytes(text);
}

void frmMain::appendResults(const QByteArray &separator, const QByteArray &line)
{
    txtResults->appendBytes(separator, line);
}

void frmMain::repaintResults()
{
    txtResults->repaintSoon();
}

QString frmMain::errorText() const
{
    return txtERROR->toPlainText();
}

bool frmMain::errorShown() const
{
    return !txtERROR->isHidden();
}

void frmMain::showError(const QString &text)
{
    txtERROR->setPlainText(text);
    txtERROR->show();
}

void frmMain::hideError()
{
    txtERROR->hide();
}

void frmMain::clearError()
{
    txtERROR->clear();
    txtERROR->hide();
}

void frmMain::beep()
{
    m_seams->beep();
}

void frmMain::applyViewRow(const ViewRow &row)
{
    const auto show = [](QWidget *w, Tri on) {
        if (on != Tri::Keep)
            w->setVisible(on == Tri::On);
    };
    show(lblSCPI, row.lblSCPI);
    show(lblX328, row.lblX328);
    show(lblXOnXoff, row.lblXOnXoff);
    for (int i = 0; i < kViewButtonCount; ++i)
        if (row.buttons[i] != Tri::Keep)
            m_viewButtons[size_t(i)]->setEnabled(row.buttons[i] == Tri::On);
    if (row.cmdLbl)
        cmdLbl->setText(QString::fromLatin1(row.cmdLbl));
    if (row.frmDevCmd)
        frmDevCmd->setTitle(QString::fromLatin1(row.frmDevCmd));
    if (row.frmDevResp)
        frmDevResp->setTitle(QString::fromLatin1(row.frmDevResp));
    if (row.focusEntry) {
        combCmd->setFocus();
        combCmd->setEditText(QString());
    }
}

QByteArray frmMain::commandText() const
{
    return combCmd->currentText().toLatin1();
}

void frmMain::setCommandText(const QByteArray &text)
{
    combCmd->setEditText(QString::fromLatin1(text));
}

QByteArray frmMain::queryText() const
{
    return combQuery->currentText().toLatin1();
}

void frmMain::setQueryText(const QByteArray &text)
{
    combQuery->setEditText(QString::fromLatin1(text));
}

QByteArray frmMain::addressText() const
{
    return txtAddr->text().toLatin1();
}

void frmMain::setAddressText(const QByteArray &text)
{
    txtAddr->setText(QString::fromLatin1(text));
}

bool frmMain::oneNak() const
{
    return ckNAK->isChecked();
}

void frmMain::setOneNak(bool on)
{
    ckNAK->setChecked(on);
}

bool frmMain::byteCount() const
{
    return ckByteCnt->isChecked();
}

void frmMain::setByteCount(bool on)
{
    ckByteCnt->setChecked(on);
}

// Said in the status bar, which the end of the waiting operation clears:
// the error box keeps the exchanges' own errors.
void frmMain::sayBusy(bool on)
{
    if (on)
        statusBar()->showMessage(kBusyMessage);
    else if (statusBar()->currentMessage() == kBusyMessage)
        statusBar()->clearMessage();
}

BenchView::Answer frmMain::askYesNoCancel(const QString &text, const QString &title)
{
    switch (m_seams->askYesNoCancel(this, text, title)) {
    case UiSeams::Yes: return Yes;
    case UiSeams::No: return No;
    case UiSeams::Cancel: break;
    }
    return Cancel;
}

// ---- The session's steps, by their old names on the window

void frmMain::resultsReplace(const QByteArray &line)
{
    m_session->resultsReplace(line);
}

void frmMain::resultsAppend(const QByteArray &line)
{
    m_session->resultsAppend(line);
}

void frmMain::reportError(const QString &message, bool withBeep)
{
    m_session->reportError(message, withBeep);
}

RxResult frmMain::RxWait(const QList<QByteArray> &terminators, qint64 limit)
{
    return m_session->RxWait(terminators, limit);
}

bool frmMain::drainInput()
{
    return m_session->drainInput();
}

bool frmMain::writeOut(const QByteArray &frame)
{
    return m_session->writeOut(frame);
}

void frmMain::applyView(ModeView view)
{
    m_session->applyView(view);
}

LineMonitor &frmMain::lineMonitor() const
{
    return m_session->lineMonitor();
}

SessionLog &frmMain::sessionLog() const
{
    return m_session->sessionLog();
}

const LoopStats &frmMain::commandLoopStats() const
{
    return m_session->loops().commandStats();
}

const LoopStats &frmMain::queryLoopStats() const
{
    return m_session->loops().queryStats();
}

bool frmMain::Busy() const
{
    return m_session->busy();
}

qint64 frmMain::skippedTicks() const
{
    return m_session->skippedTicks();
}

qint64 frmMain::refusedRequests() const
{
    return m_session->refusedRequests();
}
