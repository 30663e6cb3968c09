// SPDX-License-Identifier: MIT
#pragma once
// Plain value types of the stand-in Orna: its configuration, its fault
// switches, its command table entries and the frames it logs.

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringView>

#include <optional>

// The three languages the converter speaks on its serial line.
enum class SimLanguage { Scpi, X328, XonXoff };
QString simLanguageName(SimLanguage language); // "SCPI", "X3.28", "XonXoff"

// The two controller families that may stand behind the converter.
// EzZone: set point and process value as 32-bit floats in register pairs
//         (set point 2160, process value 360).
// F4:     16-bit integers with one implied decimal (set point 300, process
//         value 100) and the model number at register 0.
enum class SimModel { EzZone, F4 };
QString simModelName(SimModel model);                         // "ezzone", "f4"
std::optional<SimModel> simModelFromName(QStringView name);   // case-insensitive; "ez" also

struct SimControllerConfig {
    int address = 1; // X3.28 address 0..35: 0-9 on the line as digits, 10 up as letters from A
    SimModel model = SimModel::EzZone;
};

// One slot of the converter's ANSI command table: a mnemonic, the read
// register, the write register (0: not writable) and two numbers that are
// kept and echoed but not interpreted.
struct SimTableEntry {
    QByteArray mnemonic;
    int readRegister = 0;
    int writeRegister = 0;
    int extra1 = 0;
    int extra2 = 0;

    bool isEmpty() const { return mnemonic.isEmpty(); }
    // "SP1,2160,2160,6,0"; an empty slot reads "0,0,0,0,0".
    QByteArray toText() const;
    bool operator==(const SimTableEntry &) const = default;
};

// The three-entry example tables the program's "Load Examples" writes.
QList<SimTableEntry> simExampleTable(SimModel model);

// Which table the converter holds when it starts.
enum class SimStartTable { Empty, EzZoneExamples, F4Examples };

// Character format and rate of the line, used to pace replies.
struct SimLineFormat {
    int baud = 9600;
    int dataBits = 8;  // 7 or 8; with 7 the eighth bit is stripped both ways
    char parity = 'N'; // 'N', 'E' or 'O'
    int stopBits = 1;

    int bitsPerCharacter() const { return 1 + dataBits + (parity == 'N' ? 0 : 1) + stopBits; }
    double characterSeconds() const { return double(bitsPerCharacter()) / double(baud); }
    QString formatName() const; // "8N1"
    // Accepts "8N1", "7E1", "7O1" (any case); keeps the baud rate.
    bool setFormat(QStringView name);
};

// When a fault strikes, counted over the occasions it can apply to.
struct SimTrigger {
    enum Mode { Off, Once, Always, Rate };
    Mode mode = Off;
    int nth = 1;       // Once: strikes at the nth occasion only
    double rate = 0.0; // Rate: chance of striking at each occasion, 0..1

    static SimTrigger off() { return {}; }
    static SimTrigger once(int nth = 1) { return {Once, nth, 0.0}; }
    static SimTrigger always() { return {Always, 1, 0.0}; }
    static SimTrigger atRate(double p) { return {Rate, 1, p}; }
    // "off", "once", "once:N", "always", "rate:P" or a bare P in 0..1.
    static std::optional<SimTrigger> parse(QStringView text);
    QString toString() const;
    bool isOff() const { return mode == Off; }
    bool operator==(const SimTrigger &) const = default;
};

// Fault switches. Each fault applies at its own occasions:
//   delay, silence, noise, babble, drop: every reply the converter sends;
//   nak:      the ACK to an X3.28 selection or poll;
//   holdoff:  every Xon/Xoff reply;
//   noStx:    every X3.28 poll data block;
//   afterEot: the closing EOT of an X3.28 poll.
struct SimFaults {
    SimTrigger delay;    // reply held back by delayMs more
    int delayMs = 5000;  // longer than the program's usual reply wait
    SimTrigger silence;  // reply lost on the line
    SimTrigger nak;      // NAK instead of ACK
    SimTrigger noise;    // noiseBytes stray letters before the reply
    int noiseBytes = 3;
    SimTrigger holdoff;  // holdoffCount lone XOFFs, each followed by holdoffMs, before the reply
    int holdoffCount = 1;
    int holdoffMs = 500;
    SimTrigger noStx;    // data block sent without its STX
    SimTrigger afterEot; // afterEotBytes stray letters after the closing EOT
    int afterEotBytes = 2;
    SimTrigger babble;   // babbleBytes letters with no terminator instead of the reply
    int babbleBytes = 40000;
    SimTrigger drop;     // the line is dropped instead of the reply
    quint32 seed = 1;    // seeds the generator behind rates and stray bytes

    bool operator==(const SimFaults &) const = default;
};

// The fault switches, listed once: what the engine numbers them by, what
// the Simulator menu shows, and what orna-sim takes as options.
enum class SimFault { Delay, Silence, Nak, Noise, Holdoff, NoStx, AfterEot, Babble, Drop };
inline constexpr int SimFaultCount = 9;

struct SimFaultParameter {
    const char *name = nullptr; // orna-sim's option; nullptr: none
    int SimFaults::*field = nullptr;
    const char *valueName = nullptr; // "MS", "N"
    const char *help = nullptr;
    int max = 0; // the largest value taken (0 is the smallest)
};

struct SimFaultInfo {
    SimFault fault;
    const char *name;    // orna-sim's option and command, e.g. "after-eot"
    const char *caption; // the Simulator menu's entry
    const char *help;    // orna-sim's --help line
    SimTrigger SimFaults::*trigger;
    SimFaultParameter parameters[2];
};

// Every fault switch, in the order of SimFault.
const SimFaultInfo (&simFaultCatalogue())[SimFaultCount];
const SimFaultInfo &simFaultInfo(SimFault fault);

// What the converter's times and rates may be where a person sets them
// (orna-sim's options and commands): finite, and within these bounds.
inline constexpr double kSimMaxMs = 600000.0;   // turn-around, busy time: ten minutes
inline constexpr int kSimMinBaud = 50;
inline constexpr int kSimMaxBaud = 4000000;
inline constexpr double kSimMinTau = 0.001;     // seconds
inline constexpr double kSimMaxTau = 1e6;
inline constexpr double kSimMaxRipple = 1000.0; // degrees

struct SimConfig {
    QList<SimControllerConfig> controllers{{1, SimModel::EzZone}, {5, SimModel::EzZone}};
    SimStartTable startTable = SimStartTable::EzZoneExamples;
    double turnaroundMs = 3.0; // from the last byte of a message to the first of the reply
    double busyMs = 20.0;      // Xon/Xoff: from XOFF to XON while the controller is accessed
    SimLineFormat line;
    bool followPortBaud = true; // the server takes the baud rate the program sets on the port
    bool unpaced = false;       // replies leave whole and at once, at no line rate (benchmarks)
    double tauSeconds = 10.0;   // time constant of the process value moving to the set point
    double rippleAmplitude = 0.2; // small wave on the process value, so it never stands still
    double initialSetPoint = 75.0;
    double initialProcessValue = 21.0;
    SimFaults faults;
};

// One entry of the frame log: a message from the host, bytes sent to the
// host, or a note about what the converter did.
struct SimFrame {
    enum Kind { FromHost, ToHost, Note };
    Kind kind = Note;
    double time = 0.0; // seconds on the engine's clock
    QByteArray bytes;
    QString note;

    // "    1.204  host> *IDN?<LF>", "    1.208  sim > <ACK>  [NAK fault]", "    1.300  ----  link open to 5"
    QString toLogLine() const;
};
Q_DECLARE_METATYPE(SimFrame)

// Bytes as text with every control character named: <STX>, <ETX>, <CR>,
// <XON>... and bytes above 126 as <xHH>. Beyond maxBytes the rest is
// summarised as "...(+N bytes)"; 0 means no limit.
QString simNameBytes(const QByteArray &bytes, int maxBytes = 0);

// The character that stands for an X3.28 address on the line, or -1 if none.
int simAddressFromChar(char c);
char simAddressChar(int address);
