// SPDX-License-Identifier: MIT
#include "fuzz/FuzzWindow.h"

#include "serial/ComPortMap.h"
#include "serial/PortSelection.h"
#include "serial/frmPorts.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

void fuzzInitApp(int *argc, char ***argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's own event dispatcher processes events in a poll about a third
    // faster than the GLib one; a wait that runs to its limit is 30000 polls.
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
    // Kept for the life of the process; Qt wants one application object.
    static QApplication *app = new QApplication(*argc, *argv);
    Q_UNUSED(app);
    // The window is built once, before the first input.
    FuzzWindow::fresh();
}

void fuzzFail(const char *what, const QByteArray &detail)
{
    std::fprintf(stderr, "FUZZ CHECK FAILED: %s\n%s\n", what, detail.toPercentEncoding(" ").constData());
    std::fflush(stderr);
    std::abort();
}

FuzzInput FuzzInput::parse(const uint8_t *data, size_t size)
{
    FuzzInput in;
    size_t i = 0;
    const auto next = [&](int &out) {
        if (i >= size)
            return false;
        out = data[i++];
        return true;
    };
    int b = 0;
    if (next(b))
        in.options = quint8(b);
    if (next(b))
        in.pick = quint8(b);
    in.quietAtEnd = (in.options & 0xE0) == 0xE0;
    int g = 0, n = 0, longGaps = 0;
    while (next(g)) {
        FuzzChunk c;
        if (g == 255) {
            c.drop = true;
            in.chunks.append(c);
            continue;
        }
        if (g < 248)
            c.gap = g;
        else if (longGaps++ >= kLongGaps)
            c.gap = 0;
        else
            c.gap = g < 252 ? kPromptPollLimit - 2 + (g - 248) : kReplyPollLimit - 1 + (g - 252);
        if (!next(n))
            break;
        if (n == 255) {
            int byte = 0, k = 0;
            if (!next(byte) || !next(k))
                break;
            c.bytes = QByteArray(qsizetype(k) * 1024, char(byte));
        } else {
            const size_t take = std::min<size_t>(size_t(n), size - i);
            c.bytes = QByteArray(reinterpret_cast<const char *>(data + i), qsizetype(take));
            i += take;
        }
        in.chunks.append(c);
    }
    return in;
}

void FuzzPort::play(const FuzzInput &in)
{
    m_in = in;
    m_playing = true;
    m_next = 0;
    m_since = 0;
    playedInputs = 0;
    playedWrites.clear();
    delivered = 0;
    idlePolls = 0;
    afterFirstWrite.clear();
    chunksAfterFirstWrite.clear();
}

QByteArray FuzzPort::Input()
{
    if (!m_playing)
        return ScriptPort::Input();
    ++inputCalls;
    ++playedInputs;
    if (!PortOpen())
        return {};
    ++idlePolls;
    // One full wait is kReplyPollLimit + 1 polls; one more is the input
    // drain before a write.
    FUZZ_CHECK(idlePolls <= kReplyPollLimit + 2, "a wait went on past its poll limit");
    if (m_next >= m_in.chunks.size()) {
        if (!m_in.quietAtEnd)
            loseLine(QStringLiteral("the fuzz input ended"));
        return {};
    }
    const FuzzChunk &c = m_in.chunks[m_next];
    if (m_since < c.gap) {
        ++m_since;
        return {};
    }
    ++m_next;
    m_since = 0;
    ++delivered;
    idlePolls = 0;
    if (c.drop) {
        loseLine(QStringLiteral("the fuzz input dropped the line"));
        return {};
    }
    if (!playedWrites.isEmpty() && !c.bytes.isEmpty()) {
        afterFirstWrite += c.bytes;
        chunksAfterFirstWrite.append(c.bytes);
    }
    return c.bytes;
}

bool FuzzPort::Output(const QByteArray &data)
{
    if (m_playing && PortOpen()) {
        playedWrites.append(data);
        idlePolls = 0;
    }
    return ScriptPort::Output(data);
}

FuzzWindow &FuzzWindow::fresh()
{
    static FuzzWindow *window = new FuzzWindow;
    window->reset();
    return *window;
}

FuzzWindow::FuzzWindow()
{
    port = new FuzzPort;
    // The fuzz port needs no device; a scan of the machine's would cost more
    // than an exchange.
    w = std::make_unique<frmMain>(port, &seams, &map);
}

void FuzzWindow::reset()
{
    port->stop();
    if (port->PortOpen())
        port->PortOpen(false);
    port->writes.clear();
    port->closedWrites = 0;
    port->inputCalls = 0;
    port->responder = nullptr;
    seams.beeps = 0;
    seams.answers.clear();
    seams.questions.clear();
    seams.helpShown.clear();
    resetPortSelection();

    // Start-up defaults, then what only other operations set.
    w->Form_Load();
    w->Timer1->stop();
    w->pollPacingMicros = 0;
    w->combQuery->setEditText(QString());
    w->ckNAK->setChecked(false);
    w->AddrStr.clear();
    w->OutStr.clear();
    w->Rdg.clear();

    seams.dialog = [](frmPorts &d) {
        d.cmdCOM_Click(1);
        d.cmdExit_Click();
    };
    w->cmdInit_Click();
    seams.dialog = nullptr;
    QCoreApplication::sendPostedEvents();
    FUZZ_CHECK(port->PortOpen() && w->cmdMode == "SCPI" && !w->errorShown(), w->errorText().toLatin1());
    port->writes.clear();
}

void FuzzWindow::openLink()
{
    w->txtAddr->setText(QStringLiteral("5"));
    port->replyToNext(1, QByteArray("5\x06"));
    w->cmdSet_Click();
    FUZZ_CHECK(w->AddrSetFlg && w->cmdMode == "X3.28", w->resultsText());
    port->writes.clear();
}

void FuzzWindow::checkAfter()
{
    // ORNA_FUZZ_VERBOSE=1 shows what each input did (for writing seeds).
    static const bool verbose = qEnvironmentVariableIsSet("ORNA_FUZZ_VERBOSE");
    if (verbose)
        std::fprintf(stderr, "wrote [%s] polls %lld\ntranscript [%s]\nerror [%s]\n",
                     port->written().toPercentEncoding(" ,:?*=@").constData(), qint64(port->playedInputs),
                     w->resultsText().toPercentEncoding(" ,:?*=@").constData(),
                     w->errorShown() ? w->errorText().toLatin1().constData() : "");
    FUZZ_CHECK(!w->Busy(), "the line is still held after the operation");
    FUZZ_CHECK(w->cmdMode == "SCPI" || w->cmdMode == "X3.28" || w->cmdMode == "XonXoff", w->cmdMode);
    // Every wait ends at its bound or earlier, and each new wait follows a
    // write or a delivery; so the polls of the whole operation are bounded.
    const qint64 bound = (qint64(port->playedWrites.size()) + port->delivered + 1) * (kReplyPollLimit + 2);
    FUZZ_CHECK(port->playedInputs <= bound, QByteArray::number(port->playedInputs));
    // A line lost during the operation is never passed over in silence,
    // whether or not the operation had a wait left to notice it.
    if (!port->PortOpen())
        FUZZ_CHECK(w->errorShown() && w->errorText().contains(QLatin1String(" was lost: ")),
                   "lost line not reported: " + w->errorText().toLatin1() + " | " + w->resultsText());
}

bool fuzzModeAfter(const frmMain &w, const FuzzPort &port, const char *mode)
{
    return w.cmdMode == QLatin1String(port.PortOpen() ? mode : "SCPI");
}

bool fuzzErrorIsOneOf(const frmMain &w, std::initializer_list<const char *> texts)
{
    if (!w.errorShown())
        return true;
    // A line lost at the end of a failed wait adds its own line.
    const QStringList lines = w.errorText().split(QLatin1Char('\n'));
    if (lines.size() > 2 || (lines.size() == 2 && !lines[1].contains(QLatin1String(" was lost: "))))
        return false;
    for (const char *t : texts) {
        const QString text = QString::fromLatin1(t);
        if (text.endsWith(QLatin1String("...")) ? lines[0].startsWith(text.chopped(3)) : lines[0] == text)
            return true;
    }
    return false;
}

XonOutcome fuzzXonOutcome(const QList<QByteArray> &chunks, const QByteArray &terminators)
{
    XonOutcome o;
    QByteArray buffer;
    for (const QByteArray &c : chunks) {
        buffer += c;
        bool ended = false;
        for (char t : terminators)
            ended = ended || buffer.contains(t);
        if (!ended)
            continue;
        if (buffer == QByteArray(1, 0x13)) {
            ++o.holdOffs;
            buffer.clear();
            continue;
        }
        o.last = buffer;
        return o;
    }
    return o;
}

bool fuzzWritesAre(const FuzzPort &port, const QList<QByteArray> &expected)
{
    if (port.PortOpen())
        return port.playedWrites == expected;
    return port.playedWrites.size() <= expected.size() &&
           port.playedWrites == expected.mid(0, port.playedWrites.size());
}
