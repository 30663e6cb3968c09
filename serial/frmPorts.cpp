// SPDX-License-Identifier: MIT
#include "serial/frmPorts.h"

#include "serial/CaptionButton.h"
#include "serial/ComPortMap.h"
#include "serial/PortSelection.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {
const char *const kBaudRates[] = {"1200", "2400", "9600", "19200", "38400"};
const QString kSimData = QStringLiteral("#simulator");
} // namespace

frmPorts::frmPorts(ComPortMap &map, QWidget *parent) : QDialog(parent), m_map(map)
{
    setObjectName(QStringLiteral("frmPorts"));
    setWindowTitle(QStringLiteral("Set COM Ports"));
    setModal(true);

    lblTitle = new QLabel(QStringLiteral("Select Baud Rate, Format and then COM Port"));
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    buildFormatFrames();
    QGridLayout *ports = buildPortRows();

    lblSimulator = new QLabel;
    lblSimulator->setObjectName(QStringLiteral("lblSimulator"));
    lblSimulator->setTextFormat(Qt::PlainText);
    lblSimulator->setWordWrap(true);
    lblSimulator->setStyleSheet(
        QStringLiteral("QLabel { color: white; background: #a05a00; font-weight: bold; padding: 3px; }"));

    cmdExit = new CaptionButton(QStringLiteral("Return to    Main Form"));
    cmdExit->setObjectName(QStringLiteral("cmdExit"));
    // Enter anywhere in the dialog leaves it, as this button does.
    cmdExit->setAutoDefault(false);
    cmdExit->setDefault(true);
    connect(cmdExit, &QPushButton::clicked, this, &frmPorts::cmdExit_Click);

    txtERROR = new QPlainTextEdit;
    txtERROR->setObjectName(QStringLiteral("txtERROR"));
    txtERROR->setReadOnly(true);
    txtERROR->hide(); // nothing writes to it

    auto *formats = new QHBoxLayout;
    formats->addWidget(frmBaud);
    formats->addWidget(frmBits);
    auto *outer = new QVBoxLayout(this);
    outer->addWidget(lblTitle);
    outer->addLayout(formats);
    outer->addLayout(ports);
    outer->addWidget(lblSimulator);
    outer->addWidget(cmdExit, 0, Qt::AlignRight);
    outer->addWidget(txtERROR);

    Form_Load();
}

// The baud rate and the character format.
void frmPorts::buildFormatFrames()
{
    frmBaud = new QGroupBox(QStringLiteral("Baud Rate"));
    frmBaud->setObjectName(QStringLiteral("frmBaud"));
    frmBaud->setToolTip(QStringLiteral("Select a baud rate"));
    auto *baudLayout = new QVBoxLayout(frmBaud);
    auto *baudGroup = new QButtonGroup(this);
    for (int i = 0; i < 5; ++i) {
        auto *r = new QRadioButton(QString::fromLatin1(kBaudRates[i]));
        r->setObjectName(QStringLiteral("optBaud_%1").arg(i));
        baudGroup->addButton(r, i);
        baudLayout->addWidget(r);
        optBaud.append(r);
    }
    connect(baudGroup, &QButtonGroup::idClicked, this, &frmPorts::optBaud_Click);

    frmBits = new QGroupBox(QStringLiteral("Character Format"));
    frmBits->setObjectName(QStringLiteral("frmBits"));
    opt7O = new QRadioButton(QStringLiteral("7 Bits, Odd Par"));
    opt7O->setObjectName(QStringLiteral("opt7O"));
    opt7E = new QRadioButton(QStringLiteral("7 bits, Even Par"));
    opt7E->setObjectName(QStringLiteral("opt7E"));
    optCh8 = new QRadioButton(QStringLiteral("8 Bits, None"));
    optCh8->setObjectName(QStringLiteral("optCh8"));
    auto *bitsLayout = new QVBoxLayout(frmBits);
    for (QRadioButton *r : {opt7O, opt7E, optCh8})
        bitsLayout->addWidget(r);
    bitsLayout->addStretch(1);
    connect(opt7O, &QRadioButton::clicked, this, &frmPorts::opt7O_Click);
    connect(opt7E, &QRadioButton::clicked, this, &frmPorts::opt7E_Click);
    connect(optCh8, &QRadioButton::clicked, this, &frmPorts::optCh8_Click);
}

// A button for each port number, with the device it opens beside it.
QGridLayout *frmPorts::buildPortRows()
{
    auto *ports = new QGridLayout;
    auto *deviceHead = new QLabel(QStringLiteral("Device this port opens (pick one, or type a path):"));
    ports->addWidget(deviceHead, 0, 1);
    // The button last pressed stays down, so the dialog shows the choice
    // (markChosenPort). They form no button group: in one, Tab would reach
    // only the button that is down.
    void (frmPorts::*const handlers[ComPortMap::PortCount])() = {
        &frmPorts::cmdCOM1_Click, &frmPorts::cmdCOM2_Click, &frmPorts::cmdCOM3_Click,
        &frmPorts::cmdCOM4_Click, &frmPorts::cmdCOM5_Click, &frmPorts::cmdCOM6_Click};
    for (int n = 1; n <= ComPortMap::PortCount; ++n) {
        auto *b = new QPushButton(QStringLiteral("COM %1").arg(n));
        b->setObjectName(QStringLiteral("cmdCOM%1").arg(n));
        b->setAutoDefault(false);
        b->setCheckable(true);
        if (n <= 4)
            b->setToolTip(QStringLiteral("Initializes COM Port %1").arg(n));
        b->setAccessibleName(b->text());
        connect(b, &QPushButton::clicked, this, handlers[n - 1]);
        cmdCOM.append(b);

        auto *dev = new QComboBox;
        dev->setObjectName(QStringLiteral("cmbDevice%1").arg(n));
        dev->setEditable(true);
        dev->setInsertPolicy(QComboBox::NoInsert);
        dev->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        dev->setMinimumContentsLength(46);
        dev->setAccessibleName(QStringLiteral("Device for COM %1").arg(n));
        // A typed path stays as typed: no inline completion from the list.
        dev->setCompleter(nullptr);
        connect(dev, &QComboBox::activated, this, [this, n] { deviceChosen(n); });
        connect(dev->lineEdit(), &QLineEdit::editingFinished, this, [this, n] { deviceChosen(n); });
        cmbDevice.append(dev);

        ports->addWidget(b, n, 0);
        ports->addWidget(dev, n, 1);
    }
    ports->setColumnStretch(1, 1);
    return ports;
}

void frmPorts::Form_Load()
{
    optBaud[2]->setChecked(true);
    Baud = QStringLiteral("9600");
    optCh8->setChecked(true);
    Bits = QStringLiteral("8");
    Stopbits = QStringLiteral("1");
    Parity = QStringLiteral("N");
    // The list the program read at start; each run of the dialog reads it afresh.
    showDevices();
    markChosenPort();
}

void frmPorts::optBaud_Click(int index)
{
    if (index >= 0 && index < 5)
        Baud = QString::fromLatin1(kBaudRates[index]);
}

void frmPorts::opt7O_Click()
{
    Parity = QStringLiteral("O");
    Bits = QStringLiteral("7");
}

void frmPorts::opt7E_Click()
{
    Parity = QStringLiteral("E");
    Bits = QStringLiteral("7");
}

void frmPorts::optCh8_Click()
{
    Parity = QStringLiteral("N");
    Bits = QStringLiteral("8");
}

void frmPorts::cmdCOM_Click(int number)
{
    if (number < 1 || number > ComPortMap::PortCount)
        return;
    // A device typed beside the button but not yet confirmed counts.
    deviceChosen(number);
    CommPortNum = number;
    markChosenPort();
}

void frmPorts::cmdExit_Click()
{
    PortSettings = Baud + QLatin1Char(',') + Parity + QLatin1Char(',') + Bits + QLatin1Char(',') + Stopbits;
    accept();
}

void frmPorts::reject()
{
    // Leaving by the window's close control (or Escape) is leaving without a
    // new port choice.
    CommPortNum = m_portAtShow;
    markChosenPort();
    QDialog::reject();
}

void frmPorts::beginChoice()
{
    m_portAtShow = CommPortNum;
    // The boxes show the mapping as it is now, so that a port button never
    // hands back a stale device (the mapping may have changed meanwhile).
    refreshDevices();
    markChosenPort();
}

void frmPorts::markChosenPort()
{
    for (int n = 1; n <= cmdCOM.size(); ++n)
        cmdCOM[n - 1]->setChecked(n == CommPortNum);
}

void frmPorts::refreshDevices()
{
    m_map.refresh();
    showDevices();
}

void frmPorts::showDevices()
{
    const ComPortMap &map = m_map;
    m_filling = true;
    const auto devices = map.systemDevices();
    for (int n = 1; n <= ComPortMap::PortCount; ++n) {
        QComboBox *box = cmbDevice[n - 1];
        box->clear();
        for (const SystemDevice &d : devices)
            box->addItem(ComPortMap::deviceText(d), d.path);
        // The stable names of the same devices, for a line that must survive
        // replugging the adapter into another socket.
        for (const SystemDevice &d : devices)
            if (!d.byId.isEmpty())
                box->addItem(ComPortMap::deviceText(d, true), d.byId);
        if (m_map.simulatorAvailable())
            box->addItem(ComPortMap::simulatorName(), kSimData);
        box->setEditText(map.entry(n).kind == ComEntry::None ? QString() : map.displayText(n));
        box->setToolTip(box->currentText());
        box->lineEdit()->setPlaceholderText(QStringLiteral("(no device)"));
    }
    m_filling = false;
    showSimulatorNumbers();
}

void frmPorts::showSimulatorNumbers()
{
    if (!m_map.simulatorAvailable()) {
        lblSimulator->hide();
        return;
    }
    QStringList numbers;
    for (int n : m_map.simulatorNumbers())
        numbers << QStringLiteral("COM %1").arg(n);
    if (numbers.isEmpty())
        lblSimulator->setText(QStringLiteral("No COM number opens the %1 now: pick \"%1\" in the box beside a "
                                             "button to try the program without a converter.")
                                  .arg(ComPortMap::simulatorName()));
    else
        lblSimulator->setText(QStringLiteral("No converter at hand? %1 %2 the %3, a converter built into this "
                                             "program.")
                                  .arg(numbers.join(QStringLiteral(" and ")),
                                       numbers.size() == 1 ? QStringLiteral("opens") : QStringLiteral("open"),
                                       ComPortMap::simulatorName()));
    lblSimulator->show();
}

void frmPorts::deviceChosen(int number)
{
    if (m_filling || number < 1 || number > ComPortMap::PortCount)
        return;
    ComPortMap &map = m_map;
    QComboBox *box = cmbDevice[number - 1];
    // The box shows the mapping as a text (a listed device with its
    // description, or a path); a text the list holds is that entry, and any
    // other text is a device path exactly as typed: it is never taken apart.
    const QString shown = box->currentText();
    if (shown == map.displayText(number) || (shown.isEmpty() && map.entry(number).kind == ComEntry::None))
        return; // unchanged
    const int idx = box->findText(shown, Qt::MatchExactly | Qt::MatchCaseSensitive);
    const QString listed = idx >= 0 ? box->itemData(idx).toString() : QString();
    if (listed == kSimData || shown.compare(ComPortMap::simulatorName(), Qt::CaseInsensitive) == 0)
        map.setSimulator(number);
    else if (!listed.isEmpty())
        map.setDevice(number, listed);
    else
        map.setDevice(number, shown);
    m_filling = true;
    box->setEditText(map.entry(number).kind == ComEntry::None ? QString() : map.displayText(number));
    box->setToolTip(box->currentText());
    m_filling = false;
    showSimulatorNumbers();
}
