// SPDX-License-Identifier: MIT
// Re-entrancy: a seeded random run of clicks, Enter keys, mode switches,
// entry edits and loop ticks, many of them fired while an exchange waits for
// its reply: from the event processing of a wait's polls (posted when the
// peer is written to) and from inside the polls themselves. The peer answers
// at random polls with valid replies, junk bytes or, rarely, nothing.
//
// The port tells two operations at once apart by the depth of event delivery
// at which each one uses the line: an operation runs at the depth of the
// event that started it, and whatever a wait lets in runs deeper. A line
// operation (drain, write, poll) made deeper than an operation that is still
// in progress is a second exchange nested in the first one.

#include "app/frmMain.h"
#include "exchange/Protocol.h"
#include "serial/ComPortMap.h"
#include "serial/PortSelection.h"
#include "serial/frmPorts.h"
#include "support/FakeSeams.h"
#include "support/ScriptPort.h"
#include "support/UserInput.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <random>

namespace {
// ---- Depth of event delivery

int g_depth = 0;
std::function<void(int)> g_leftDepth; // told the depth of each delivery that ends

// One level of delivery: every event the application delivers, and every
// action the test starts itself (as a click or key press would come).
class DeliveryLevel
{
public:
    DeliveryLevel() { ++g_depth; }
    ~DeliveryLevel()
    {
        const int left = g_depth--;
        if (g_leftDepth)
            g_leftDepth(left);
    }
    DeliveryLevel(const DeliveryLevel &) = delete;
    DeliveryLevel &operator=(const DeliveryLevel &) = delete;
};

class DepthApp : public QApplication
{
public:
    using QApplication::QApplication;
    bool notify(QObject *receiver, QEvent *event) override
    {
        DeliveryLevel level;
        return QApplication::notify(receiver, event);
    }
};

// ---- The port that watches who uses the line

class WatchPort : public ScriptPort
{
public:
    using ScriptPort::ScriptPort;

    const frmMain *window = nullptr;
    // Called on every read made while an operation holds the line.
    std::function<void()> onBusyInput;

    int nestedUse = 0;      // line operations nested in another operation
    QStringList nestedWhat; // the first few, described
    int unownedWrites = 0;  // writes while no operation held the line

    // Bytes for the atPoll-th read after the write just made.
    void replyToLast(qint64 atPoll, const QByteArray &bytes)
    {
        m_replies.append({int(writes.size()) - 1, atPoll, bytes});
    }

    // Operations deeper than `depth` cannot be running any more.
    void leftDepth(int depth) { prune(depth - 1); }

    void waitForInput(int) override { use("poll"); }

    QByteArray Input() override
    {
        use("read");
        if (onBusyInput && window->Busy()) {
            DeliveryLevel level;
            onBusyInput();
        }
        QByteArray in = ScriptPort::Input();
        if (!PortOpen())
            return in;
        ++m_polls;
        const int last = int(writes.size()) - 1;
        for (qsizetype i = 0; i < m_replies.size();) {
            const Reply &r = m_replies[i];
            if (r.afterWrite < last) {
                m_replies.removeAt(i); // its write was answered by another
            } else if (r.afterWrite == last && r.atPoll == m_polls) {
                in += r.bytes;
                m_replies.removeAt(i);
            } else {
                ++i;
            }
        }
        return in;
    }

    bool Output(const QByteArray &data) override
    {
        use("write " + data.toPercentEncoding(" "));
        if (!window->Busy())
            ++unownedWrites;
        m_polls = 0;
        return ScriptPort::Output(data);
    }

private:
    struct Reply
    {
        int afterWrite;
        qint64 atPoll;
        QByteArray bytes;
    };

    void prune(int depth)
    {
        while (!m_active.isEmpty() && m_active.last() > depth)
            m_active.removeLast();
    }

    // Depths at which operations use the line, shallowest first. Operations
    // at one depth follow one another; one deeper than the last runs inside
    // it (from its event processing), and ends before the delivery of its
    // depth does.
    void use(const QByteArray &what)
    {
        const int d = g_depth;
        prune(d);
        if (!m_active.isEmpty() && m_active.last() < d) {
            ++nestedUse;
            if (nestedWhat.size() < 8)
                nestedWhat << QStringLiteral("%1 at depth %2 while an operation at depth %3 runs")
                                  .arg(QString::fromLatin1(what))
                                  .arg(d)
                                  .arg(m_active.last());
        }
        if (m_active.isEmpty() || m_active.last() != d)
            m_active.append(d);
    }

    QList<int> m_active;
    QList<Reply> m_replies;
    qint64 m_polls = 0;
};

QByteArray one(char c)
{
    return QByteArray(1, c);
}

// ---- The random run

struct Run
{
    std::mt19937 rng;
    FakeSeams seams;
    // The port dialog would list the machine's devices on every run.
    ComPortMap map{[] { return QList<SystemDevice>{}; }};
    WatchPort *port = nullptr;
    std::unique_ptr<frmMain> w;
    bool chaos = true;       // fire actions during waits
    double junkRate = 0.25;  // share of replies with stray bytes
    double silentRate = 0.004;
    double nakRate = 0.15;   // X3.28 selections and polls refused
    double splitRate = 0.3;  // replies that come in two parts
    int nestedActions = 0;   // actions fired while an operation held the line
    qint64 steps = 0;

    explicit Run(quint32 seed) : rng(seed)
    {
        resetPortSelection();
        port = new WatchPort;
        w = std::make_unique<frmMain>(port, &seams, &map);
        port->window = w.get();
        w->pollPacingMicros = 0;
        w->Timer1->stop(); // ticks come from the run, so a seed repeats
        seams.dialog = [](frmPorts &d) {
            d.cmdCOM_Click(1);
            d.cmdExit_Click();
        };
        g_leftDepth = [this](int depth) { port->leftDepth(depth); };
        port->responder = [this](ScriptPort &, const QByteArray &data) { answer(data); };
        port->onBusyInput = [this] {
            if (chaos && chance(0.01))
                nested();
        };
    }
    ~Run()
    {
        g_leftDepth = nullptr;
        w.reset();
        resetPortSelection();
    }

    bool chance(double p) { return std::uniform_real_distribution<double>(0, 1)(rng) < p; }
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
    QByteArray junk()
    {
        QByteArray b(1 + pick(4), '\0');
        for (char &c : b)
            c = char(pick(256));
        return b;
    }

    // The peer: a plausible answer to what was written, at random polls,
    // sometimes with stray bytes, rarely none at all.
    void answer(const QByteArray &wrote)
    {
        if (chaos && chance(0.3))
            QTimer::singleShot(0, w.get(), [this] { nested(); });
        if (chance(silentRate))
            return;
        QList<QByteArray> parts;
        if (wrote.size() == 2 && wrote[1] == Ctl::ENQ && wrote[0] != Ctl::DLE) {
            parts << wrote.left(1) + Ctl::ACK;
        } else if (wrote.startsWith(Ctl::STX) && wrote.endsWith(Ctl::ETX)) {
            parts << one(chance(nakRate) ? Ctl::NAK : Ctl::ACK);
        } else if (wrote == one(Ctl::EOT) || wrote == one(Ctl::NAK)) {
            parts << QByteArray(1, Ctl::STX) + "75.0" + Ctl::CR + Ctl::ETX;
        } else if (wrote == one(Ctl::ACK)) {
            parts << one(Ctl::EOT);
        } else if (wrote.endsWith('\n')) {
            static const QByteArray entries[] = {"SP1,2160,2160,6,0", "C1,360,0,4,0", "0,0,0,0,0"};
            if (wrote.startsWith("ASSIGN:ANSI?"))
                parts << entries[pick(3)] + "\n>";
            else if (wrote.contains('?'))
                parts << "Vek,Orna,SIM,1.0\n>";
            else
                parts << ">";
        } else if (wrote.startsWith("= ") && wrote.endsWith('\r')) {
            parts << one(Ctl::XOFF) << one(Ctl::XON); // a hold-off, then done
        } else if (wrote.startsWith("? ") && wrote.endsWith('\r')) {
            if (chance(0.5))
                parts << one(Ctl::XOFF);
            parts << QByteArray(1, Ctl::XON) + "100" + Ctl::CR;
        }
        // "@@@", DLE ENQ and the bare copy of a language switch get nothing.
        if (!parts.isEmpty() && parts.last().size() > 1 && chance(splitRate)) {
            const QByteArray whole = parts.takeLast();
            const qsizetype cut = 1 + pick(int(whole.size()) - 1);
            parts << whole.left(cut) << whole.mid(cut);
        }
        qint64 poll = 0;
        for (QByteArray &p : parts) {
            if (chance(junkRate))
                p = chance(0.5) ? junk() + p : p + junk();
            poll += 1 + pick(25);
            port->replyToLast(poll, p);
        }
        if (parts.isEmpty() && chance(junkRate))
            port->replyToLast(1 + pick(25), junk());
    }

    // One action fired while an operation holds the line.
    void nested()
    {
        if (!chaos)
            return;
        if (w->Busy())
            ++nestedActions;
        act();
    }

    // One random thing a user (or the loop timer) does.
    void act()
    {
        static const char *const commands[] = {"*idn?", "*RST", "SYST:LANG X3.28", "SYST:LANG XonXoff",
                                               "@@@",   "SP1 100", "", "ASSIGN:ANSI?  1"};
        static const char *const queries[] = {"C1", "SP1", ""};
        static const char *const addresses[] = {"5", "1", "12", "40"};
        frmMain &m = *w;
        switch (pick(26)) {
        case 0: case 1: case 2: m.cmdSend->click(); break;
        case 3: case 4: m.cmdQuery->click(); break;
        case 5: case 6: User::click(m.combCmd); User::key(Qt::Key_Return); break;
        case 7: case 8: User::click(m.combQuery); User::key(Qt::Key_Return); break;
        case 9: m.cmdSet->click(); break;
        case 10: m.cmdSCPI->click(); break;
        case 11: m.cmdDisconnect->click(); break;
        case 12: m.cmdXonXoff->click(); break;
        case 13:
            if (chance(0.2)) { // a load pauses 0.3 s in all, so mostly Cancel
                seams.answers = {chance(0.5) ? UiSeams::Yes : UiSeams::No};
                m.cmdLdCmdTable->click();
                seams.answers.clear();
            }
            break;
        case 14: m.cmdRdCmdTable->click(); break;
        case 15: (chance(0.5) ? m.cmdCmdtst : m.cmdCmdtstoff)->click(); break;
        case 16: (chance(0.5) ? m.cmdQtst : m.cmdQtstOff)->click(); break;
        case 17: case 18: case 19: m.Timer1_Timer(); break;
        case 20: m.combCmd->setEditText(QString::fromLatin1(commands[pick(8)])); break;
        case 21: m.combQuery->setEditText(QString::fromLatin1(queries[pick(3)])); break;
        case 22: m.txtAddr->setText(QString::fromLatin1(addresses[pick(4)])); break;
        case 23: (chance(0.5) ? static_cast<QAbstractButton *>(m.ckNAK) : m.ckByteCnt)->click(); break;
        case 24: m.optTime[pick(5)]->click(); break;
        case 25:
            if (chance(0.2))
                m.cmdInit->click();
            else
                QCoreApplication::processEvents();
            break;
        }
    }

    // A top-level step: one action, as from a fresh event.
    void step()
    {
        ++steps;
        DeliveryLevel level;
        act();
    }
};

// What must hold between operations, whatever came in between: a known mode
// shown by its label, the loop buttons one of each pair, a stop button only
// for a running loop, the device buttons usable.
QString inconsistency(const frmMain &w)
{
    if (w.Busy())
        return QStringLiteral("the line is still held");
    const QByteArray mode = w.cmdMode;
    if (mode != "SCPI" && mode != "X3.28" && mode != "XonXoff")
        return QStringLiteral("unknown mode ") + QString::fromLatin1(mode);
    if (mode == "SCPI" && !(!w.lblSCPI->isHidden() && w.lblX328->isHidden() && w.lblXOnXoff->isHidden()))
        return QStringLiteral("SCPI mode with other mode labels");
    if (mode == "X3.28" && !(!w.lblX328->isHidden() && w.lblSCPI->isHidden()))
        return QStringLiteral("X3.28 mode without its label");
    if (mode == "XonXoff" && !(!w.lblXOnXoff->isHidden() && w.lblSCPI->isHidden() && w.cmdQuery->isEnabled()))
        return QStringLiteral("Xon/Xoff mode without its label or query button");
    if (w.cmdCmdtst->isEnabled() == w.cmdCmdtstoff->isEnabled() || w.cmdQtst->isEnabled() == w.cmdQtstOff->isEnabled())
        return QStringLiteral("a loop with both or neither of its buttons enabled");
    if ((w.cmdCmdtstoff->isEnabled() && w.CMDloopFlg != 1) || (w.cmdQtstOff->isEnabled() && w.QloopFlg != 1))
        return QStringLiteral("a stop button for a loop that does not run");
    if (w.CMDloopFlg < 0 || w.CMDloopFlg > 1 || w.QloopFlg < 0 || w.QloopFlg > 1)
        return QStringLiteral("a loop flag out of range");
    if (!w.cmdSend->isEnabled())
        return QStringLiteral("Send disabled on an initialised line");
    return {};
}
} // namespace

class TestReentrancy : public QObject
{
    Q_OBJECT
private slots:
    void randomRun_data()
    {
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<int>("steps");
        const int steps = qEnvironmentVariableIntValue("ORNA_REENTRANCY_STEPS");
        const quint32 seed = quint32(qEnvironmentVariableIntValue("ORNA_REENTRANCY_SEED"));
        if (seed != 0) {
            QTest::addRow("seed %u", seed) << seed << (steps > 0 ? steps : 1500);
            return;
        }
        for (quint32 s : {1u, 2u, 3u})
            QTest::addRow("seed %u", s) << s << (steps > 0 ? steps : 1500);
    }
    void randomRun()
    {
        QFETCH(quint32, seed);
        QFETCH(int, steps);
        Run run(seed);
        frmMain &w = *run.w;
        QVERIFY(User::showActive(&w)); // Enter keys go to the window, as a person's do
        {
            DeliveryLevel level;
            w.cmdInit->click();
        }
        QVERIFY(run.port->PortOpen());
        const qint64 refusedBefore = w.refusedRequests();

        for (int i = 0; i < steps; ++i) {
            run.step();
            const QString wrong = inconsistency(w);
            QVERIFY2(wrong.isEmpty(), qPrintable(QStringLiteral("step %1: %2").arg(i).arg(wrong)));
            QVERIFY2(run.port->nestedUse == 0, qPrintable(run.port->nestedWhat.join(QStringLiteral("; "))));
        }

        // Quiet down: actions still posted do nothing, the loops stop.
        run.chaos = false;
        for (int i = 0; i < 5; ++i) {
            DeliveryLevel level;
            QCoreApplication::processEvents();
        }
        w.cmdCmdtstoff_Click();
        w.cmdQtstOff_Click();
        QVERIFY2(inconsistency(w).isEmpty(), qPrintable(inconsistency(w)));
        QCOMPARE(run.port->nestedUse, 0);
        QCOMPARE(run.port->unownedWrites, 0);
        QCOMPARE(w.CMDloopFlg + w.QloopFlg, 0);
        QCOMPARE(w.LpCount, qint64(0));

        qInfo("%lld steps: %d actions during waits, %lld refused, %lld ticks skipped, %lld writes", run.steps,
              run.nestedActions, w.refusedRequests() - refusedBefore, w.skippedTicks(), qint64(run.port->writes.size()));
        // The run did what it claims: many actions came during waits, some
        // were refused, some ticks were skipped, and exchanges were made.
        QVERIFY2(run.nestedActions >= steps / 10, qPrintable(QString::number(run.nestedActions)));
        QVERIFY(w.refusedRequests() > refusedBefore);
        QVERIFY(w.skippedTicks() > 0);
        QVERIFY(run.port->writes.size() > steps / 4);

        // And the window still works: a fresh line, an SCPI query, a link
        // open and a poll, with a well-behaved peer.
        run.junkRate = 0;
        run.silentRate = 0;
        run.nakRate = 0;
        // Whole replies: a query's wait ends at its LF, so a prompt split off
        // behind it would come after the wait.
        run.splitRate = 0;
        auto click = [](QPushButton *b) {
            DeliveryLevel level;
            b->click();
        };
        click(w.cmdInit);
        QCOMPARE(w.cmdMode, QByteArray("SCPI"));
        w.combCmd->setEditText(QStringLiteral("*idn?"));
        run.port->writes.clear();
        click(w.cmdSend);
        QCOMPARE(run.port->writes, QList<QByteArray>{"*idn?\n"});
        QCOMPARE(w.resultsText(), QByteArray("Sent *idn?\r\nVek,Orna,SIM,1.0\r\nPrompt received"));
        QVERIFY2(!w.errorShown(), qPrintable(w.errorText()));

        w.txtAddr->setText(QStringLiteral("5"));
        click(w.cmdSet);
        QVERIFY(w.AddrSetFlg);
        QCOMPARE(w.cmdMode, QByteArray("X3.28"));
        w.ckNAK->setChecked(false);
        w.ckByteCnt->setChecked(false);
        w.combQuery->setEditText(QStringLiteral("C1"));
        run.port->writes.clear();
        click(w.cmdQuery);
        QCOMPARE(run.port->written(), QByteArray("\x02? C1\x03\x04\x06"));
        QVERIFY2(w.resultsText().endsWith("Received STX 75.0<cr> ETX\r\nReceived EOT"), w.resultsText().constData());
        QVERIFY2(!w.errorShown(), qPrintable(w.errorText()));
        QVERIFY(!w.Busy());
        QCOMPARE(run.port->nestedUse, 0);
    }
};

int main(int argc, char **argv)
{
    DepthApp app(argc, argv);
    TestReentrancy test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_reentrancy.moc"
