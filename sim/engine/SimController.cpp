// SPDX-License-Identifier: MIT
#include "sim/engine/SimController.h"

#include <QRegularExpression>

#include <bit>
#include <cmath>

namespace {
constexpr double RipplePeriodSeconds = 20.0;
// What the converter accepts for each kind of register.
constexpr double FloatMin = -1999.0, FloatMax = 9999.0;    // EZ-Zone display range
constexpr double TenthsMin = -3276.8, TenthsMax = 3276.7;  // 16 bits with one decimal
constexpr double IntegerMin = -32768, IntegerMax = 32767;
} // namespace

SimController::SimController(const SimControllerConfig &config, const SimConfig &plant, double tStart)
    : m_address(config.address)
    , m_model(config.model)
    , m_tau(plant.tauSeconds > 0 ? plant.tauSeconds : 1e-9)
    , m_ripple(plant.rippleAmplitude)
    , m_setPoint(plant.initialSetPoint)
    , m_pv(plant.initialProcessValue)
    , m_tSettled(tStart)
{
    storeValue(setPointRegister(), m_setPoint);
    if (m_model == SimModel::F4)
        m_words[F4ModelRegister] = F4ModelNumber;
}

int SimController::setPointRegister() const
{
    return m_model == SimModel::F4 ? F4SetPointRegister : EzSetPointRegister;
}

int SimController::processValueRegister() const
{
    return m_model == SimModel::F4 ? F4ProcessValueRegister : EzProcessValueRegister;
}

SimController::Kind SimController::kindOf(int reg) const
{
    if (m_model == SimModel::EzZone)
        return Kind::Float;
    if (reg == F4SetPointRegister || reg == F4ProcessValueRegister)
        return Kind::Tenths;
    return Kind::Integer;
}

void SimController::settle(double t)
{
    if (t <= m_tSettled)
        return;
    m_pv = m_setPoint + (m_pv - m_setPoint) * std::exp(-(t - m_tSettled) / m_tau);
    m_tSettled = t;
}

double SimController::processValue(double t)
{
    settle(t);
    return m_pv + m_ripple * std::sin(2.0 * M_PI * t / RipplePeriodSeconds);
}

void SimController::storeValue(int reg, double value)
{
    switch (kindOf(reg)) {
    case Kind::Float: {
        // High word first, at the register named in the table.
        const auto bits = std::bit_cast<quint32>(float(value));
        m_words[reg] = quint16(bits >> 16);
        m_words[reg + 1] = quint16(bits & 0xFFFF);
        break;
    }
    case Kind::Tenths:
        m_words[reg] = quint16(qint16(std::lround(value * 10.0)));
        break;
    case Kind::Integer:
        m_words[reg] = quint16(qint16(std::lround(value)));
        break;
    }
}

double SimController::readValue(int reg, double t)
{
    if (reg == processValueRegister())
        storeValue(reg, processValue(t));
    switch (kindOf(reg)) {
    case Kind::Float: {
        const quint32 bits = (quint32(m_words.value(reg)) << 16) | m_words.value(reg + 1);
        return double(std::bit_cast<float>(bits));
    }
    case Kind::Tenths:
        return qint16(m_words.value(reg)) / 10.0;
    case Kind::Integer:
        return qint16(m_words.value(reg));
    }
    return 0.0;
}

QByteArray SimController::readText(int reg, double t)
{
    const double v = readValue(reg, t);
    if (kindOf(reg) == Kind::Integer)
        return QByteArray::number(qint64(v));
    return QByteArray::number(v, 'f', 1);
}

SimController::WriteResult SimController::writeText(int reg, const QByteArray &text, double t)
{
    static const QRegularExpression number(QStringLiteral("^[+-]?(\\d+\\.?\\d*|\\.\\d+)$"));
    const QString s = QString::fromLatin1(text.trimmed());
    if (!number.match(s).hasMatch())
        return WriteResult::NotANumber;
    const double v = s.toDouble();
    const Kind kind = kindOf(reg);
    const double lo = kind == Kind::Float ? FloatMin : kind == Kind::Tenths ? TenthsMin : IntegerMin;
    const double hi = kind == Kind::Float ? FloatMax : kind == Kind::Tenths ? TenthsMax : IntegerMax;
    if (v < lo || v > hi)
        return WriteResult::OutOfRange;
    if (kind == Kind::Integer && v != std::floor(v))
        return WriteResult::OutOfRange;

    settle(t);
    storeValue(reg, v);
    if (reg == setPointRegister())
        m_setPoint = readValue(reg, t); // as stored, rounded to the register's precision
    else if (reg == processValueRegister())
        m_pv = v;
    return WriteResult::Ok;
}
