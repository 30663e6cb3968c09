// SPDX-License-Identifier: MIT
#pragma once
// A simulated temperature controller behind the converter: a Modbus
// register file whose set point and process value follow the model's
// layout, with a process value that moves toward the set point over time.

#include "sim/engine/SimTypes.h"

#include <QByteArray>
#include <QMap>

class SimController
{
public:
    SimController(const SimControllerConfig &config, const SimConfig &plant, double tStart);

    int address() const { return m_address; }
    SimModel model() const { return m_model; }

    // The register (EZ-Zone: the register pair starting there) as the text
    // the converter puts on the line: one decimal for temperatures and all
    // EZ-Zone floats ("75.0"), a plain integer for other F4 registers ("5270").
    QByteArray readText(int reg, double t);

    enum class WriteResult { Ok, NotANumber, OutOfRange };
    // Writes the text as a value into the register (pair). Writing the set
    // point changes where the process value heads; writing the process
    // value register sets the present process value.
    WriteResult writeText(int reg, const QByteArray &text, double t);

    double setPoint() const { return m_setPoint; }
    double processValue(double t); // including the ripple

    static constexpr int EzSetPointRegister = 2160;
    static constexpr int EzProcessValueRegister = 360;
    static constexpr int F4SetPointRegister = 300;
    static constexpr int F4ProcessValueRegister = 100;
    static constexpr int F4ModelRegister = 0;
    static constexpr int F4ModelNumber = 5270;

private:
    enum class Kind { Float, Tenths, Integer };
    Kind kindOf(int reg) const;
    int setPointRegister() const;
    int processValueRegister() const;
    void settle(double t); // first-order lag of the process value up to time t
    double readValue(int reg, double t);
    void storeValue(int reg, double value);

    int m_address;
    SimModel m_model;
    double m_tau;
    double m_ripple;
    QMap<int, quint16> m_words; // registers not written read as 0
    double m_setPoint;
    double m_pv;      // process value without the ripple, at m_tSettled
    double m_tSettled;
};
