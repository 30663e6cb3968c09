#include "serial/frmPorts.h"

#include "serial/ComPortMap.h"
#include "serial/PortSelection.h"
#include "serial/QtSerialPortObject.h"

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

frmPorts::frmPorts(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmPorts"));
    setWindowTitle(QStringLiteral("Set COM Ports"));
    setModal(true);

    lblTitle = new QLabel(QStringLiteral("Select Baud Rate, Format and then COM Port"));
    lblTitle->setObjectName(QStringLiteral("lblTitle"));

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

    auto *ports = new QGridLayout;
    auto *deviceHead = new QLabel(QStringLiteral("Device this port opens (pick one, or type a path):"));
    ports->addWidget(deviceHead, 0, 1);
    for (int n = 1; n <= ComPortMap::PortCount; ++n) {
        auto *b = new QPushButton(QStringLiteral("COM %1").arg(n));
        b->setObjectName(QStringLiteral("cmdCOM%1").arg(n));
        b->setAutoDefault(false);
        if (n <= 4)
            b->setToolTip(QStringLiteral("Initializes COM Port %1").arg(n));
        b->setAccessibleName(b->text());
        connect(b, &QPushButton::clicked, this, [this, n] { cmdCOM_Click(n); });
        cmdCOM.append(b);

        auto *dev = new QComboBox;
        dev->setObjectName(QStringLiteral("cmbDevice%1").arg(n));
        dev->setEditable(true);
        dev->setInsertPolicy(QComboBox::NoInsert);
        dev->setMinimumContentsLength(34);
        dev->setAccessibleName(QStringLiteral("Device for COM %1").arg(n));
        connect(dev, &QComboBox::activated, this, [this, n] { deviceChosen(n); });
        connect(dev->lineEdit(), &QLineEdit::editingFinished, this, [this, n] { deviceChosen(n); });
        cmbDevice.append(dev);

        ports->addWidget(b, n, 0);
        ports->addWidget(dev, n, 1);
    }
    ports->setColumnStretch(1, 1);

    cmdExit = new QPushButton(QStringLiteral("Return to    Main Form"));
    cmdExit->setObjectName(QStringLiteral("cmdExit"));
    cmdExit->setAutoDefault(false);
    cmdExit->setAccessibleName(QStringLiteral("Return to Main Form"));
    connect(cmdExit, &QPushButton::clicked, this, &frmPorts::cmdExit_Click);

    MSComm1 = new QtSerialPortObject(this);
    MSComm1->setObjectName(QStringLiteral("MSComm1"));
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
    outer->addWidget(cmdExit, 0, Qt::AlignRight);
    outer->addWidget(txtERROR);

    Form_Load();
}

void frmPorts::Form_Load()
{
    optBaud[2]->setChecked(true);
    Baud = QStringLiteral("9600");
    optCh8->setChecked(true);
    Bits = QStringLiteral("8");
    Stopbits = QStringLiteral("1");
    Parity = QStringLiteral("N");
    refreshDevices();
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
    MSComm1->CommPort(number);
    CommPortNum = number;
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
    QDialog::reject();
}

void frmPorts::beginChoice()
{
    m_portAtShow = CommPortNum;
    // The boxes show the mapping as it is now, so that a port button never
    // hands back a stale device (the mapping may have changed meanwhile).
    refreshDevices();
}

void frmPorts::showEvent(QShowEvent *event)
{
    beginChoice();
    QDialog::showEvent(event);
}

void frmPorts::refreshDevices()
{
    ComPortMap &map = ComPortMap::instance();
    map.refresh();
    m_filling = true;
    const auto devices = map.systemDevices();
    for (int n = 1; n <= ComPortMap::PortCount; ++n) {
        QComboBox *box = cmbDevice[n - 1];
        box->clear();
        for (const SystemDevice &d : devices)
            box->addItem(d.description.isEmpty() ? d.path : QStringLiteral("%1  (%2)").arg(d.path, d.description), d.path);
        if (ComPortMap::simulatorAvailable())
            box->addItem(ComPortMap::simulatorName(), kSimData);
        box->setEditText(map.entry(n).kind == ComEntry::None ? QString() : map.displayText(n));
        box->lineEdit()->setPlaceholderText(QStringLiteral("(no device)"));
    }
    m_filling = false;
}

void frmPorts::deviceChosen(int number)
{
    if (m_filling || number < 1 || number > ComPortMap::PortCount)
        return;
    ComPortMap &map = ComPortMap::instance();
    QComboBox *box = cmbDevice[number - 1];
    const QString shown = box->currentText().trimmed();
    if (shown == map.displayText(number) || (shown.isEmpty() && map.entry(number).kind == ComEntry::None))
        return; // unchanged
    const int idx = box->findText(shown);
    const QString data = idx >= 0 ? box->itemData(idx).toString() : QString();
    if (data == kSimData || shown.compare(ComPortMap::simulatorName(), Qt::CaseInsensitive) == 0)
        map.setSimulator(number);
    else if (!data.isEmpty())
        map.setDevice(number, data);
    else
        map.setDevice(number, shown.section(QStringLiteral("  ("), 0, 0));
    m_filling = true;
    box->setEditText(map.entry(number).kind == ComEntry::None ? QString() : map.displayText(number));
    m_filling = false;
}
