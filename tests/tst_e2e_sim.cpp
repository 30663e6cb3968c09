// SPDX-License-Identifier: MIT
// End to end: the real main window, headless, through the real serial code
// (QtSerialPortObject on a pseudo-terminal) to the simulated Orna. The port
// dialog, the SCPI exchange with both language switches, the simulator's
// faults as the program meets them, and the Simulator menu.

#include "app/frmMain.h"
#include "serial/ComPortMap.h"
#include "serial/MonitoredPort.h"
#include "serial/QtSerialPortObject.h"
#include "serial/frmPorts.h"
#include "sim/SimFrameLogWindow.h"
#include "sim/SimulatedLine.h"
#include "sim/SimulatorMenu.h"
#include "support/PtyPeer.h"
#include "support/SimHarness.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace {
const QByteArray kId = OrnaEngine::identification();

QByteArray idnTranscript()
{
    return "Sent *idn?\r\n" + kId + "\r\nPrompt received";
}

bool menuEnabled(const SimulatorMenu &m)
{
    return m.menu()->menuAction()->isEnabled();
}
} // namespace

class TestE2ESim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<SimFrame>(); }

    // ---- The port dialog and the line

    // README: the port dialog names the COM number that opens the simulator
    // (the first after the system's devices); pressing it and returning
    // opens the line, and "*idn?" is answered.
    void newcomerWithoutHardware_data()
    {
        QTest::addColumn<QStringList>("devices");
        QTest::addColumn<int>("number");
        QTest::newRow("no serial device: COM 1") << QStringList{} << 1;
        QTest::newRow("a built-in /dev/ttyS0: COM 2") << QStringList{"/dev/ttyS0"} << 2;
    }
    void newcomerWithoutHardware()
    {
        QFETCH(QStringList, devices);
        QFETCH(int, number);
        SimHarness h(SimHarness::Line::BuiltIn);
        SimulatorMenu *menu = installSimulatorMenu(*h.w, h.host()); // as main() does
        h.map.setDeviceLister([devices] {
            QList<SystemDevice> found;
            for (const QString &path : devices)
                found.append({path, QStringLiteral("built-in")});
            return found;
        });
        QCOMPARE(h.w->lblLine->text(), QStringLiteral("Line: port closed"));
        QVERIFY(!menuEnabled(*menu));

        h.seams.dialog = [&](frmPorts &d) {
            QCOMPARE(h.map.entry(number).kind, ComEntry::Simulator);
            QVERIFY(!d.lblSimulator->isHidden());
            QCOMPARE(d.lblSimulator->text(), QStringLiteral("No converter at hand? COM %1 opens the Simulated Orna, "
                                                            "a converter built into this program.")
                                                 .arg(number));
            QCOMPARE(d.cmbDevice[number - 1]->currentText(), ComPortMap::simulatorName());
            for (QComboBox *box : d.cmbDevice)
                QVERIFY2(box->findText(QStringLiteral("Simulated Orna")) >= 0, qPrintable(box->objectName()));
            d.cmdCOM[number - 1]->click();
            d.cmdExit->click();
        };
        h.w->cmdInit_Click();
        QVERIFY2(h.portOpen(), qPrintable(h.error()));
        // The same serial code as hardware, on the simulator's pseudo-terminal.
        // (MSComm1 passes it through the line monitor.)
        auto *port = qobject_cast<QtSerialPortObject *>(&qobject_cast<MonitoredPort *>(h.w->MSComm1)->line());
        QVERIFY(port);
        QCOMPARE(port->deviceName(), h.host().devicePath());
        QVERIFY(port->deviceName().startsWith(QLatin1String("/dev/pts/")));
        QCOMPARE(h.w->lblLine->text(),
                 QStringLiteral("Line: COM %1 -> Simulated Orna (%2), no hardware").arg(number).arg(port->deviceName()));
        QVERIFY(h.w->lblLine->property("simulator").toBool());
        QVERIFY(menuEnabled(*menu));

        h.send("*idn?");
        // At 9600 baud the prompt trails the LF by a character time; the
        // wait ends with the LF, so "Prompt received" shows only when both
        // came in the same poll.
        QVERIFY2(h.transcript() == idnTranscript() || h.transcript() == "Sent *idn?\r\n" + kId,
                 h.transcript().constData());
        QCOMPARE(h.w->Rdg, kId);
        QCOMPARE(h.error(), QString());
        QCOMPARE(h.seams.beeps, 0);
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == "*idn?\n"; }));
    }

    void simulatorBesideAnyComButton_data()
    {
        QTest::addColumn<int>("number");
        QTest::addColumn<bool>("devicesReported");
        QTest::addColumn<QString>("how"); // "default", "typed" or "picked"
        QTest::addColumn<QString>("text");
        QTest::newRow("COM 1, no device: the default") << 1 << false << "default" << "";
        QTest::newRow("COM 3 beside two devices, picked") << 3 << true << "picked" << "";
        QTest::newRow("COM 1 beside two devices, picked") << 1 << true << "picked" << "";
        QTest::newRow("COM 6, typed") << 6 << true << "typed" << "Simulated Orna";
        QTest::newRow("COM 2, typed in small letters") << 2 << false << "typed" << "simulated orna";
    }
    void simulatorBesideAnyComButton()
    {
        QFETCH(int, number);
        QFETCH(bool, devicesReported);
        QFETCH(QString, how);
        QFETCH(QString, text);
        SimHarness h(SimHarness::Line::OwnHost);
        // The system's list changes after the window was built: the dialog
        // shows it as it is when it runs.
        if (devicesReported)
            h.map.setDeviceLister(
                [] { return QList<SystemDevice>{{"/dev/ttyS0", "built-in"}, {"/dev/ttyUSB0", "FT232R USB UART"}}; });
        h.seams.dialog = [&](frmPorts &d) {
            QComboBox *box = d.cmbDevice[number - 1];
            if (how == QLatin1String("typed")) {
                box->setEditText(text);
            } else if (how == QLatin1String("picked")) {
                const int i = box->findText(ComPortMap::simulatorName());
                QVERIFY(i >= 0);
                box->setCurrentIndex(i);
                emit box->activated(i);
            }
            d.cmdCOM[number - 1]->click();
            QCOMPARE(box->currentText(), ComPortMap::simulatorName());
            d.cmdExit->click();
        };
        h.w->cmdInit_Click();
        QVERIFY2(h.portOpen(), qPrintable(h.error()));
        const ComPortMap &map = h.map;
        QCOMPARE(map.entry(number).kind, ComEntry::Simulator);
        if (number != 1)
            QCOMPARE(map.entry(1).kind, devicesReported ? ComEntry::Device : ComEntry::Simulator);
        QCOMPARE(h.w->MSComm1->CommPort(), number);
        QCOMPARE(h.w->MSComm1->deviceName(), h.host().devicePath());
        QVERIFY(h.w->lblLine->text().startsWith(QStringLiteral("Line: COM %1 -> Simulated Orna (").arg(number)));

        h.send("*idn?");
        QCOMPARE(h.transcript(), idnTranscript());
        QCOMPARE(h.seams.beeps, 0);
    }

    // A line to something else is not shown as the simulator.
    void otherDeviceIsNotTheSimulator()
    {
        SimHarness h(SimHarness::Line::OwnHost);
        SimulatorMenu *menu = installSimulatorMenu(*h.w, h.host());
        PtyPeer peer;
        QVERIFY(peer.isValid());
        h.map.setDevice(2, peer.slavePath());
        h.seams.dialog = [](frmPorts &d) {
            d.cmdCOM2_Click();
            d.cmdExit_Click();
        };
        h.w->cmdInit_Click();
        QVERIFY2(h.portOpen(), qPrintable(h.error()));
        QCOMPARE(h.w->lblLine->text(), QStringLiteral("Line: COM 2 -> %1, 9600,N,8,1").arg(peer.slavePath()));
        QVERIFY(!h.w->lblLine->property("simulator").toBool());
        QVERIFY(!menuEnabled(*menu));

        QVERIFY(h.open(1));
        QVERIFY(h.w->lblLine->property("simulator").toBool());
        QVERIFY(menuEnabled(*menu));
    }

    // The simulator paces and frames its replies as the line was opened.
    void simulatorTakesTheChosenLineFormat()
    {
        SimHarness h(SimHarness::Line::BuiltIn);
        QVERIFY2(h.open(1, QStringLiteral("2400,E,7,1")), qPrintable(h.error()));
        QCOMPARE(h.w->MSComm1->Settings(), QStringLiteral("2400,E,7,1"));
        h.send("*idn?");
        QVERIFY(h.transcript().startsWith("Sent *idn?\r\n" + kId));
        QVERIFY(!h.w->errorShown());
        const SimLineFormat line = h.server().lineFormat();
        QCOMPARE(line.baud, 2400);
        QCOMPARE(line.formatName(), QStringLiteral("7E1"));
    }

    // ---- SCPI exchanges

    void scpiExchanges_data()
    {
        QTest::addColumn<QList<QByteArray>>("entries");
        QTest::addColumn<QList<QByteArray>>("transcripts");
        QTest::addColumn<QByteArray>("onTheLine");
        QTest::newRow("identification") << QList<QByteArray>{"*idn?"} << QList<QByteArray>{idnTranscript()}
                                        << QByteArray("*idn?\n");
        QTest::newRow("command answered with the prompt")
            << QList<QByteArray>{"*cls"} << QList<QByteArray>{"Sent *cls\r\nPrompt received"} << QByteArray("*cls\n");
        QTest::newRow("event status after an unknown command, cleared by reading")
            << QList<QByteArray>{"BOGUS", "*esr?", "*esr?"}
            << QList<QByteArray>{"Sent BOGUS\r\nPrompt received", "Sent *esr?\r\n32\r\nPrompt received",
                                 "Sent *esr?\r\n0\r\nPrompt received"}
            << QByteArray("BOGUS\n*esr?\n*esr?\n");
        QTest::newRow("event status after a language out of range")
            << QList<QByteArray>{"SYST:LANG FRENCH", "*esr?"}
            << QList<QByteArray>{"Sent SYST:LANG FRENCH\r\nPrompt received", "Sent *esr?\r\n16\r\nPrompt received"}
            << QByteArray("SYST:LANG FRENCH\n*esr?\n");
        QTest::newRow("an empty entry repeats the last one")
            << QList<QByteArray>{"*stb?", ""}
            << QList<QByteArray>{"Sent *stb?\r\n0\r\nPrompt received", "Sent *stb?\r\n0\r\nPrompt received"}
            << QByteArray("*stb?\n*stb?\n");
        QTest::newRow("table slot read back")
            << QList<QByteArray>{"ASSIGN:ANSI? 1"}
            << QList<QByteArray>{"Sent ASSIGN:ANSI? 1\r\nSP1,2160,2160,6,0\r\nPrompt received"}
            << QByteArray("ASSIGN:ANSI? 1\n");
        QTest::newRow("@@@ is a plain command in SCPI")
            << QList<QByteArray>{"@@@"} << QList<QByteArray>{"Sent @@@\r\nPrompt received"} << QByteArray("@@@\n");
    }
    void scpiExchanges()
    {
        QFETCH(QList<QByteArray>, entries);
        QFETCH(QList<QByteArray>, transcripts);
        QFETCH(QByteArray, onTheLine);
        SimHarness h(SimHarness::Line::OwnHost);
        QVERIFY2(h.open(), qPrintable(h.error()));
        for (int i = 0; i < entries.size(); ++i) {
            h.send(entries[i]);
            QCOMPARE(h.transcript(), transcripts[i]);
            QCOMPARE(h.error(), QString());
        }
        QCOMPARE(h.seams.beeps, 0);
        QCOMPARE(h.w->cmdMode, QByteArray("SCPI"));
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == onTheLine; }));
        QCOMPARE(h.hostBytes(), onTheLine);
    }

    void languageSwitches_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QByteArray>("mode");
        QTest::addColumn<int>("language");
        QTest::addColumn<QString>("label");
        QTest::newRow("X3.28") << QByteArray("SYST:LANG X3.28") << QByteArray("X3.28") << int(SimLanguage::X328)
                               << "lblX328";
        QTest::newRow("Xon/Xoff") << QByteArray("SYST:LANG XonXoff") << QByteArray("XonXoff")
                                  << int(SimLanguage::XonXoff) << "lblXOnXoff";
    }
    void languageSwitches()
    {
        QFETCH(QByteArray, entry);
        QFETCH(QByteArray, mode);
        QFETCH(int, language);
        QFETCH(QString, label);
        SimHarness h(SimHarness::Line::OwnHost);
        QVERIFY2(h.open(), qPrintable(h.error()));
        h.send(entry);
        QCOMPARE(h.transcript(), "Sent " + entry);
        QCOMPARE(h.w->cmdMode, mode);
        QVERIFY(!h.w->findChild<QLabel *>(label)->isHidden());
        QVERIFY(h.w->lblSCPI->isHidden());
        // The converter switched too, and took the bare copy for what it is.
        QVERIFY(h.waitUntil([&] { return int(h.language()) == language; }));
        QVERIFY(h.waitForLog(QStringLiteral("language %1").arg(QString::fromLatin1(mode))));
        QVERIFY(h.waitForLog(QStringLiteral("bare copy of the language switch, ignored")));
        QCOMPARE(h.hostBytes(), entry + "\n" + entry);
        QCOMPARE(h.seams.beeps, 0);
        QCOMPARE(h.error(), QString());

        // Back to SCPI: both sides, and the next query is answered.
        h.w->cmdSCPI_Click();
        QVERIFY(h.waitUntil([&] { return h.language() == SimLanguage::Scpi; }));
        h.send("*idn?");
        QCOMPARE(h.transcript(), idnTranscript());
        QCOMPARE(h.seams.beeps, 0);
    }

    // ---- Faults of the simulator, as the SCPI exchange meets them

    void lostReplies_data()
    {
        QTest::addColumn<QByteArray>("entry");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("transcript");
        QTest::newRow("query") << QByteArray("*idn?") << "Receive timeout error - no response from UUT"
                               << QByteArray("Sent *idn?\r\nNo response");
        QTest::newRow("command") << QByteArray("*cls") << "Prompt not found." << QByteArray("Sent *cls");
    }
    void lostReplies()
    {
        QFETCH(QByteArray, entry);
        QFETCH(QString, message);
        QFETCH(QByteArray, transcript);
        SimHarness h(SimHarness::Line::OwnHost);
        QVERIFY2(h.open(), qPrintable(h.error()));
        h.send("*idn?");
        QCOMPARE(h.w->Rdg, kId);
        SimFaults f;
        f.silence = SimTrigger::always();
        h.host().setFaults(f);
        h.unpaced([&] { h.send(entry); });
        QCOMPARE(h.error(), message);
        QCOMPARE(h.transcript(), transcript);
        QCOMPARE(h.seams.beeps, 1);
        QCOMPARE(h.w->Rdg, kId); // a timeout keeps the last answer
        QVERIFY(h.waitForLog(QStringLiteral("silence fault: reply lost")));

        // The switch off, the line works again.
        h.host().setFaults(SimFaults());
        h.send("*idn?");
        QCOMPARE(h.transcript(), idnTranscript());
        QVERIFY(!h.w->errorShown());
        QCOMPARE(h.seams.beeps, 1);
    }

    void delayedReply_data()
    {
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<bool>("unpacedWait");
        QTest::addColumn<bool>("answered");
        // Unpaced, 30000 polls pass long before 5 s; paced as the program
        // paces them (100 us a poll at least), they last 3 s or more.
        QTest::newRow("beyond the wait") << 5000 << true << false;
        QTest::newRow("within the wait") << 300 << false << true;
    }
    void delayedReply()
    {
        QFETCH(int, delayMs);
        QFETCH(bool, unpacedWait);
        QFETCH(bool, answered);
        SimHarness h(SimHarness::Line::OwnHost);
        QVERIFY2(h.open(), qPrintable(h.error()));
        SimFaults f;
        f.delay = SimTrigger::always();
        f.delayMs = delayMs;
        h.host().setFaults(f);
        if (unpacedWait)
            h.unpaced([&] { h.send("*idn?"); });
        else
            h.send("*idn?");
        if (answered) {
            QCOMPARE(h.transcript(), idnTranscript());
            QCOMPARE(h.seams.beeps, 0);
            QVERIFY(h.waitForLog(QStringLiteral("delay fault +%1 ms").arg(delayMs)));
        } else {
            QCOMPARE(h.error(), QStringLiteral("Receive timeout error - no response from UUT"));
            QCOMPARE(h.transcript(), QByteArray("Sent *idn?\r\nNo response"));
            QCOMPARE(h.seams.beeps, 1);
        }
    }

    // A stream without terminator ends the wait at the receive bound.
    void babbleEndsAtTheReceiveBound()
    {
        SimConfig config = SimHarness::fastConfig();
        config.followPortBaud = false;
        config.line.baud = 10'000'000; // the stream needs no more than a blink
        SimHarness h(config, SimHarness::Line::OwnHost);
        QVERIFY2(h.open(), qPrintable(h.error()));
        SimFaults f;
        f.babble = SimTrigger::once();
        f.babbleBytes = int(kReceiveBound) + 30000;
        h.host().setFaults(f);
        h.send("*idn?");
        QCOMPARE(h.error(), QStringLiteral("Receive buffer overflow: the UUT sent more than %1 bytes without the "
                                           "awaited reply; the exchange was ended")
                                .arg(kReceiveBound));
        QCOMPARE(h.transcript(), QByteArray("Sent *idn?"));
        QCOMPARE(h.seams.beeps, 1);
        QVERIFY(h.portOpen());

        // The rest of the stream holds no prompt; the next command gets its own.
        h.send("*cls");
        QCOMPARE(h.transcript(), QByteArray("Sent *cls\r\nPrompt received"));
        QCOMPARE(h.seams.beeps, 1);
    }

    // The line dropped instead of a reply: reported once, the port closed,
    // nothing written to it; a new cmdInit serves a fresh converter.
    void droppedLine()
    {
        SimHarness h(SimHarness::Line::BuiltIn);
        SimulatorMenu *menu = installSimulatorMenu(*h.w, h.host());
        QVERIFY2(h.open(), qPrintable(h.error()));
        const QString path = h.w->MSComm1->deviceName();
        SimFaults f;
        f.drop = SimTrigger::once();
        h.host().setFaults(f);

        h.send("*idn?");
        const QString lost = QStringLiteral("COM 1 (%1) was lost: ").arg(path);
        QVERIFY2(h.error().startsWith(lost), qPrintable(h.error()));
        QVERIFY2(h.error().endsWith(QStringLiteral("; the port is closed.")), qPrintable(h.error()));
        QCOMPARE(h.transcript(), QByteArray("Sent *idn?"));
        QCOMPARE(h.seams.beeps, 1);
        QVERIFY(!h.portOpen());
        QCOMPARE(h.w->lblLine->text(), QStringLiteral("Line: port closed (lost)"));
        QVERIFY(!menuEnabled(*menu));
        QVERIFY(h.waitForLog(QStringLiteral("drop fault")));

        // Nothing more goes to the closed port; every try says so.
        h.send("*cls");
        QVERIFY2(h.error().startsWith(QStringLiteral("The COM port is closed: ") + lost), qPrintable(h.error()));
        QCOMPARE(h.transcript(), QByteArray("Sent *idn?"));
        QCOMPARE(h.seams.beeps, 2);
        QTest::qWait(50);
        QCOMPARE(h.seams.beeps, 2); // the loss was reported once

        // The program goes on: COM 1 again opens a fresh converter, and the
        // spent "once" drop does not strike it.
        h.clearLog();
        QVERIFY2(h.open(), qPrintable(h.error()));
        QCOMPARE(h.w->MSComm1->deviceName(), h.host().devicePath());
        QVERIFY(menuEnabled(*menu));
        h.send("*idn?");
        QVERIFY(h.transcript().startsWith("Sent *idn?\r\n" + kId));
        QVERIFY(!h.w->errorShown());
        QCOMPARE(h.seams.beeps, 2);
        QVERIFY(h.waitUntil([&] { return h.hostBytes() == "*idn?\n"; }));
        QCOMPARE(h.host().server()->faults().drop, SimTrigger::off());
    }

    // ---- The Simulator menu

    void simulatorMenuSwitches()
    {
        SimHarness h(SimHarness::Line::OwnHost);
        SimulatorMenu *m = installSimulatorMenu(*h.w, h.host());
        QAction *title = m->menu()->menuAction();
        QVERIFY(h.w->menuBar()->actions().contains(title));
        QCOMPARE(title->text(), QStringLiteral("&Simulator"));
        QVERIFY(title->isVisible());
        QVERIFY(!title->isEnabled());
        // Nothing reaches the simulator while the line does not go to it.
        m->faultAction(QStringLiteral("silence"), QStringLiteral("always"))->trigger();
        QCOMPARE(h.server().faults(), SimFaults());

        QVERIFY2(h.open(), qPrintable(h.error()));
        QVERIFY(title->isEnabled());

        // Every switch of every fault reaches the simulator.
        const SimTrigger expected[] = {SimTrigger::off(), SimTrigger::once(), SimTrigger::always(),
                                       SimTrigger::atRate(0.25)};
        const QList<SimTrigger SimFaults::*> members{&SimFaults::delay,   &SimFaults::silence,  &SimFaults::nak,
                                                     &SimFaults::noise,   &SimFaults::holdoff,  &SimFaults::noStx,
                                                     &SimFaults::afterEot, &SimFaults::babble, &SimFaults::drop};
        QCOMPARE(SimulatorMenu::faultNames().size(), members.size());
        for (int i = 0; i < members.size(); ++i) {
            for (int w = 3; w >= 0; --w) {
                QAction *a = m->faultAction(SimulatorMenu::faultNames()[i], SimulatorMenu::whenNames()[w]);
                a->trigger();
                QCOMPARE(h.server().faults().*members[i], expected[w]);
                QVERIFY(a->isChecked());
            }
        }
        QCOMPARE(h.server().faults(), SimFaults());

        // Silence always, then cleared.
        m->faultAction(QStringLiteral("silence"), QStringLiteral("always"))->trigger();
        m->faultAction(QStringLiteral("nak"), QStringLiteral("rate"))->trigger();
        h.unpaced([&] { h.send("*idn?"); });
        QCOMPARE(h.error(), QStringLiteral("Receive timeout error - no response from UUT"));
        m->clearFaultsAction()->trigger();
        QCOMPARE(h.server().faults(), SimFaults());
        QVERIFY(m->faultAction(QStringLiteral("silence"), QStringLiteral("off"))->isChecked());
        h.send("*idn?");
        QCOMPARE(h.transcript(), idnTranscript());

        // "Once" strikes once, and the menu shows it spent (off, not marked);
        // another switch leaves it spent; choosing it again arms it.
        QAction *silenceOnce = m->faultAction(QStringLiteral("silence"), QStringLiteral("once"));
        silenceOnce->trigger();
        h.unpaced([&] { h.send("*cls"); });
        QCOMPARE(h.error(), QStringLiteral("Prompt not found."));
        emit m->menu()->aboutToShow();
        QVERIFY(m->faultAction(QStringLiteral("silence"), QStringLiteral("off"))->isChecked());
        QCOMPARE(qobject_cast<QMenu *>(silenceOnce->parent())->title(), QStringLiteral("Reply lost (silence)"));
        m->faultAction(QStringLiteral("noise"), QStringLiteral("always"))->trigger();
        h.send("*cls");
        QCOMPARE(h.transcript(), QByteArray("Sent *cls\r\nPrompt received"));
        m->faultAction(QStringLiteral("silence"), QStringLiteral("once"))->trigger();
        h.unpaced([&] { h.send("*cls"); });
        QCOMPARE(h.error(), QStringLiteral("Prompt not found."));
        QCOMPARE(h.seams.beeps, 3);

        // The menu shows the simulator's switches as they are.
        SimFaults outside;
        outside.babble = SimTrigger::atRate(0.5);
        h.host().setFaults(outside);
        h.host().setTurnaroundMs(20);
        emit m->menu()->aboutToShow();
        QVERIFY(m->faultAction(QStringLiteral("babble"), QStringLiteral("rate"))->isChecked());
        QVERIFY(m->faultAction(QStringLiteral("noise"), QStringLiteral("off"))->isChecked());
        QVERIFY(m->turnaroundAction(20)->isChecked());

        // Turn-around presets.
        for (int ms : SimulatorMenu::turnaroundPresets()) {
            m->turnaroundAction(ms)->trigger();
            QCOMPARE(h.server().turnaroundMs(), double(ms));
        }

        // Dropping the line from the menu: the window sees the device vanish
        // and the menu goes grey.
        m->dropLineAction()->trigger();
        QVERIFY(h.waitUntil([&] { return !h.portOpen(); }));
        QVERIFY(!title->isEnabled());
        QVERIFY(h.error().contains(QStringLiteral("was lost")));
    }

    void frameLogWindow()
    {
        SimHarness h(SimHarness::Line::OwnHost);
        SimulatorMenu *m = installSimulatorMenu(*h.w, h.host());
        QVERIFY2(h.open(), qPrintable(h.error()));
        h.send("*idn?"); // before the window opens: it shows that too
        m->frameLogAction()->trigger();
        SimFrameLogWindow *log = m->frameLogWindow();
        QVERIFY(log->isVisible());
        QVERIFY(log->isWindow());
        QCOMPARE(log->windowModality(), Qt::NonModal);
        QVERIFY(h.waitUntil([&] { return log->text().contains(QLatin1String("host> *idn?<LF>")); }));
        QVERIFY(log->text().contains(QStringLiteral("sim > %1<LF>>").arg(QString::fromLatin1(kId))));

        // Live: the next exchange shows up while the window is open, by itself.
        h.send("SYST:LANG X3.28");
        QVERIFY(h.waitUntil([&] { return log->view->toPlainText().contains(QLatin1String("language X3.28")); }));
        QVERIFY(log->text().contains(QLatin1String("host> SYST:LANG X3.28<LF>")));

        // Only the latest lines are kept; a long frame is one short line.
        log->cmdClear->click();
        QCOMPARE(log->lineCount(), 0);
        const int total = SimFrameLogWindow::MaxLines + 500;
        for (int i = 0; i < total; ++i)
            log->addFrame({SimFrame::Note, double(i), {}, QStringLiteral("note %1").arg(i)});
        QCOMPARE(log->lineCount(), SimFrameLogWindow::MaxLines);
        QVERIFY(log->text().endsWith(QStringLiteral("note %1").arg(total - 1)));
        log->addFrame({SimFrame::ToHost, 0.0, QByteArray(100000, 'x') + '\x13', {}});
        const QString last = log->text().section(QLatin1Char('\n'), -1);
        QVERIFY2(last.contains(QLatin1String("...(+99881 bytes)")), qPrintable(last.left(200)));
        QVERIFY(last.size() < 300);
    }
};

QTEST_MAIN(TestE2ESim)
#include "tst_e2e_sim.moc"
