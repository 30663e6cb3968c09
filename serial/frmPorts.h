// SPDX-License-Identifier: MIT
#pragma once
// The port settings dialog: baud rate, character format and port number.
// Beside each port button it shows the device that button opens, and lets
// the user point the number at another device or at the simulated converter;
// a line under the buttons says which number opens the simulator. The port
// button last pressed stays marked; "Return to    Main Form" is the default
// button, so Enter leaves the dialog.

#include <QDialog>
#include <QList>
#include <QString>

class QComboBox;
class QGridLayout;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class ComPortMap;

class frmPorts : public QDialog
{
    Q_OBJECT
public:
    // The dialog shows and changes the given mapping of COM numbers.
    explicit frmPorts(ComPortMap &map, QWidget *parent = nullptr);

    // Dialog fields
    QString Baud;
    QString Parity;
    QString Bits;
    QString Stopbits;

    // Controls
    QLabel *lblTitle = nullptr;
    QGroupBox *frmBaud = nullptr;
    QList<QRadioButton *> optBaud; // 0 "1200" .. 4 "38400"
    QGroupBox *frmBits = nullptr;
    QRadioButton *opt7O = nullptr;
    QRadioButton *opt7E = nullptr;
    QRadioButton *optCh8 = nullptr;
    QList<QPushButton *> cmdCOM;      // cmdCOM1..cmdCOM6 at index 0..5
    QList<QComboBox *> cmbDevice;     // the device each port button opens
    QLabel *lblSimulator = nullptr;   // which port number opens the simulated converter
    QPushButton *cmdExit = nullptr;
    QPlainTextEdit *txtERROR = nullptr;

public slots:
    void Form_Load();
    void optBaud_Click(int index);
    void opt7O_Click();
    void opt7E_Click();
    void optCh8_Click();
    void cmdCOM_Click(int number); // number 1..6
    void cmdCOM1_Click() { cmdCOM_Click(1); }
    void cmdCOM2_Click() { cmdCOM_Click(2); }
    void cmdCOM3_Click() { cmdCOM_Click(3); }
    void cmdCOM4_Click() { cmdCOM_Click(4); }
    void cmdCOM5_Click() { cmdCOM_Click(5); }
    void cmdCOM6_Click() { cmdCOM_Click(6); }
    void cmdExit_Click();

    // Reads the device list afresh and shows each port's device.
    void refreshDevices();
    // Shows each port's device from the list as last read.
    void showDevices();
    // Points a port number at what the user typed or picked beside its button.
    void deviceChosen(int number);

    // Remembers the port chosen so far, so that leaving by the window's
    // close control can restore it, and shows each port's device as the
    // system reports it now (the one reading of the device list per run).
    // Called before each run of the dialog.
    void beginChoice();
    // Leaving by the window's close control or Escape.
    void reject() override;

private:
    void buildFormatFrames();
    QGridLayout *buildPortRows();

    ComPortMap &m_map;
    // Marks the button of the port chosen now (none when none is).
    void markChosenPort();
    void showSimulatorNumbers();

    int m_portAtShow = 0;
    bool m_filling = false;
};
