// SPDX-License-Identifier: MIT
// orna-sim: the stand-in Orna converter on a new pseudo-terminal.
//
// Prints the device path to give the program as its first line, then logs
// every frame in both directions with control characters by name. Faults
// can be set by options and changed while it runs by typing commands on
// standard input ("nak once", "delay always", "drop", "faults", "help").
// With --link PATH it also makes PATH a symbolic link to the device, a name
// that stays the same from run to run; the link goes when it ends.
// Ends cleanly on Ctrl-C (SIGINT), SIGTERM or SIGHUP (its terminal closed),
// at once whatever it is sending: nothing it does holds its event loop up
// (the log never blocks, a client that does not read costs a bounded
// buffer, a command line is bounded). An option it does not take, a value
// out of range, an address given twice or any other argument ends it with
// status 2 before it serves.

#include "sim/server/SimServer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSocketNotifier>

#include <QDeadlineTimer>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <unistd.h>

namespace {

// The fault switches' number parameters, from the catalogue.
QList<SimFaultParameter> faultParameters()
{
    QList<SimFaultParameter> out;
    for (const SimFaultInfo &f : simFaultCatalogue())
        for (const SimFaultParameter &p : f.parameters)
            if (p.name)
                out.append(p);
    return out;
}

// The log on standard output. It never holds the converter up: what the
// reader does not take at once waits here, up to kBacklog bytes (further
// lines are dropped and counted), and goes out when the reader takes more.
// A reader that goes away (EPIPE; SIGPIPE is ignored) ends the logging, not
// the converter.
class Log
{
public:
    static constexpr qsizetype kBacklog = 256 * 1024;

    static Log &instance()
    {
        static Log log;
        return log;
    }

    void line(const QString &text)
    {
        if (m_closed)
            return;
        const QByteArray bytes = text.toLocal8Bit() + '\n';
        if (m_pending.size() + bytes.size() > kBacklog) {
            ++m_dropped;
        } else {
            if (m_dropped > 0) {
                m_pending += "orna-sim: " + QByteArray::number(m_dropped) + " log lines dropped (the log was not read)\n";
                m_dropped = 0;
            }
            m_pending += bytes;
        }
        flush(0);
    }

    // Writes what the reader takes within waitMs (0: what it takes now).
    void flush(int waitMs)
    {
        QDeadlineTimer deadline(waitMs);
        while (!m_pending.isEmpty() && !m_closed) {
            pollfd p{STDOUT_FILENO, POLLOUT, 0};
            const int n = ::poll(&p, 1, int(deadline.remainingTime()));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) {
                close();
                return;
            }
            // A pipe that polls writable takes PIPE_BUF bytes without blocking.
            const ssize_t w = ::write(STDOUT_FILENO, m_pending.constData(),
                                      size_t(std::min<qsizetype>(m_pending.size(), PIPE_BUF)));
            if (w > 0)
                m_pending.remove(0, w);
            else if (w < 0 && (errno == EINTR || errno == EAGAIN))
                continue;
            else {
                close();
                return;
            }
        }
        watch();
    }

private:
    void close()
    {
        m_closed = true;
        m_pending.clear();
        watch();
    }
    // While lines wait, the event loop tells when the reader takes more.
    void watch()
    {
        const bool wanted = !m_pending.isEmpty() && !m_closed && QCoreApplication::instance();
        if (wanted && !m_notifier) {
            m_notifier = new QSocketNotifier(STDOUT_FILENO, QSocketNotifier::Write, QCoreApplication::instance());
            QObject::connect(m_notifier, &QSocketNotifier::activated, m_notifier, [this] { flush(0); });
        }
        if (m_notifier)
            m_notifier->setEnabled(wanted);
    }

    QByteArray m_pending;
    qint64 m_dropped = 0;
    bool m_closed = false;
    QSocketNotifier *m_notifier = nullptr;
};

void say(const QString &line)
{
    Log::instance().line(line);
}

// A time in ms as a person gives it: finite, 0 to kSimMaxMs.
std::optional<double> parseMs(const QString &text)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < 0 || v > kSimMaxMs)
        return std::nullopt;
    return v;
}

QString badMs(const QString &name, const QString &value)
{
    return QStringLiteral("%1: '%2' is not a time in ms from 0 to %3")
        .arg(name, value, QString::number(kSimMaxMs, 'f', 0));
}

QString describeFaults(const SimFaults &f)
{
    QStringList on;
    for (const SimFaultInfo &o : simFaultCatalogue())
        if (!(f.*o.trigger).isOff())
            on << QStringLiteral("%1 %2").arg(QLatin1String(o.name), (f.*o.trigger).toString());
    return on.isEmpty() ? QStringLiteral("none") : on.join(QLatin1String(", "));
}

// One "name value" setting, from the command line or typed while running.
// Returns an empty string on success, else what is wrong.
QString applySetting(SimFaults &faults, const QString &name, const QString &value)
{
    for (const SimFaultInfo &o : simFaultCatalogue()) {
        if (name == QLatin1String(o.name)) {
            const auto trigger = SimTrigger::parse(value);
            if (!trigger)
                return QStringLiteral("--%1: '%2' is not off, once, once:N, always or rate:P").arg(name, value);
            faults.*o.trigger = *trigger;
            return {};
        }
    }
    for (const SimFaultParameter &o : faultParameters()) {
        if (name == QLatin1String(o.name)) {
            bool ok = false;
            const int n = value.toInt(&ok);
            if (!ok || n < 0 || n > o.max)
                return QStringLiteral("--%1: '%2' is not a whole number from 0 to %3")
                    .arg(name, value, QString::number(o.max));
            faults.*o.field = n;
            return {};
        }
    }
    if (name == QLatin1String("seed")) {
        bool ok = false;
        const uint seed = value.toUInt(&ok);
        if (!ok)
            return QStringLiteral("--seed: '%1' is not a number").arg(value);
        faults.seed = seed;
        return {};
    }
    return QStringLiteral("unknown setting '%1'").arg(name);
}

// The --link symbolic link, made when serving starts and removed at the end
// if it still points at the device.
class StableLink
{
public:
    // Makes `link` point at `target`; an old link there (a run that did not
    // end cleanly) is replaced, anything else is left alone.
    bool make(const QString &link, const QString &target, QString *error)
    {
        const QFileInfo there(link);
        if (there.isSymLink()) {
            if (!QFile::remove(link)) {
                *error = QStringLiteral("cannot replace the old link %1").arg(link);
                return false;
            }
        } else if (there.exists()) {
            *error = QStringLiteral("%1 exists and is not a symbolic link; not replaced").arg(link);
            return false;
        }
        if (::symlink(QFile::encodeName(target).constData(), QFile::encodeName(link).constData()) != 0) {
            *error = QStringLiteral("cannot make the link %1: %2").arg(link, QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        m_link = link;
        m_target = target;
        return true;
    }
    void remove()
    {
        if (!m_link.isEmpty() && QFileInfo(m_link).isSymLink() && QFile::symLinkTarget(m_link) == m_target)
            QFile::remove(m_link);
        m_link.clear();
    }
    ~StableLink() { remove(); }

private:
    QString m_link;
    QString m_target;
};

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &c, 1);
}

// Commands typed on standard input while serving.
class Console : public QObject
{
public:
    explicit Console(SimServer &server) : m_server(server)
    {
        m_notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, [this] { readInput(); });
    }

private:
    // A command line is never longer than this; a longer one is dropped.
    static constexpr qsizetype kMaxLine = 4096;

    void readInput()
    {
        char buf[512];
        const ssize_t n = ::read(STDIN_FILENO, buf, sizeof buf);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            return;
        if (n <= 0) { // end of input: keep serving, stop listening
            m_notifier->setEnabled(false);
            return;
        }
        for (ssize_t i = 0; i < n; ++i) {
            if (buf[i] != '\n') {
                if (m_buffer.size() < kMaxLine)
                    m_buffer.append(buf[i]);
                else
                    m_tooLong = true;
                continue;
            }
            if (m_tooLong)
                say(QStringLiteral("orna-sim: a command line longer than %1 bytes was ignored").arg(kMaxLine));
            else if (const QString line = QString::fromLocal8Bit(m_buffer).trimmed(); !line.isEmpty())
                command(line);
            m_buffer.clear();
            m_tooLong = false;
        }
    }

    void command(const QString &line)
    {
        const QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        const QString name = words[0].startsWith(QLatin1String("--")) ? words[0].mid(2) : words[0];
        if (words.size() == 1 && name == QLatin1String("drop")) {
            m_server.dropLine();
        } else if (words.size() == 1 && name == QLatin1String("faults")) {
            say(QStringLiteral("orna-sim: faults: %1").arg(describeFaults(m_server.faults())));
        } else if (words.size() == 1 && name == QLatin1String("clear")) {
            SimFaults f;
            f.seed = m_server.faults().seed;
            m_server.setFaults(f);
            say(QStringLiteral("orna-sim: faults: none"));
        } else if (words.size() == 2 && (name == QLatin1String("turnaround") || name == QLatin1String("busy"))) {
            const std::optional<double> ms = parseMs(words[1]);
            if (!ms) {
                say(QStringLiteral("orna-sim: %1; unchanged").arg(badMs(name, words[1])));
                return;
            }
            if (name == QLatin1String("turnaround"))
                m_server.setTurnaroundMs(*ms);
            else
                m_server.setBusyMs(*ms);
            say(QStringLiteral("orna-sim: %1 %2 ms").arg(name, QString::number(*ms)));
        } else if (words.size() == 2) {
            SimFaults f = m_server.faults();
            const QString problem = applySetting(f, name, words[1]);
            if (!problem.isEmpty()) {
                say(QStringLiteral("orna-sim: %1").arg(problem));
                return;
            }
            m_server.setFaults(f);
            say(QStringLiteral("orna-sim: faults: %1").arg(describeFaults(f)));
        } else {
            say(QStringLiteral("orna-sim: commands: FAULT WHEN (e.g. 'nak once', 'delay off'), SETTING N "
                               "(e.g. 'delay-ms 8000'), 'turnaround MS', 'busy MS', 'drop' (now), 'clear', 'faults'"));
        }
    }

    SimServer &m_server;
    QSocketNotifier *m_notifier;
    QByteArray m_buffer; // the line so far
    bool m_tooLong = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orna-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ORNA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Stand-in Orna protocol converter with simulated temperature controllers, served on a new "
        "pseudo-terminal.\nThe first line printed names the device to open in the program; every frame "
        "is then logged.\nFault WHEN: off, once, once:N (the Nth occasion), always, rate:P or P (chance 0..1).\n"
        "While running, type e.g. 'nak once', 'delay off', 'drop', 'faults' or 'help'. Ctrl-C ends."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("link"), QStringLiteral("Also make PATH a symbolic link to the pseudo-terminal, a name that stays the same from run to run; removed when orna-sim ends."), QStringLiteral("PATH")},
        {QStringLiteral("controller"), QStringLiteral("Controller at X3.28 address ADDR (0-35; OrnaSerTest reaches 0-32), model ezzone or f4; repeat for more (default 1:ezzone and 5:ezzone)."), QStringLiteral("ADDR[:MODEL]")},
        {QStringLiteral("table"), QStringLiteral("Command table at power-on: ezzone or f4 examples in slots 1-3, or empty (default ezzone)."), QStringLiteral("ezzone|f4|empty"), QStringLiteral("ezzone")},
        {QStringLiteral("turnaround"), QStringLiteral("Delay from the end of a message to its reply (default 3)."), QStringLiteral("MS"), QStringLiteral("3")},
        {QStringLiteral("busy"), QStringLiteral("Xon/Xoff: time from XOFF to XON (default 20)."), QStringLiteral("MS"), QStringLiteral("20")},
        {QStringLiteral("baud"), QStringLiteral("Line rate for pacing replies until the program sets its own (default 9600)."), QStringLiteral("N"), QStringLiteral("9600")},
        {QStringLiteral("format"), QStringLiteral("Character format: 8N1, 7E1 or 7O1 (default 8N1)."), QStringLiteral("FORMAT"), QStringLiteral("8N1")},
        {QStringLiteral("fixed-baud"), QStringLiteral("Keep --baud even when the program sets another rate.")},
        {QStringLiteral("unpaced"), QStringLiteral("Send each reply whole and at once, at no line rate (for benchmarks: the far end's own time is then the least it can be).")},
        {QStringLiteral("tau"), QStringLiteral("Time constant of the process value heading for the set point (default 10)."), QStringLiteral("S"), QStringLiteral("10")},
        {QStringLiteral("ripple"), QStringLiteral("Amplitude of the small wave on the process value (default 0.2)."), QStringLiteral("DEG"), QStringLiteral("0.2")},
        {QStringLiteral("seed"), QStringLiteral("Seed for fault rates and stray bytes (default 1)."), QStringLiteral("N"), QStringLiteral("1")},
    });
    for (const SimFaultInfo &o : simFaultCatalogue())
        parser.addOption({QString::fromLatin1(o.name), QString::fromLatin1(o.help), QStringLiteral("WHEN")});
    for (const SimFaultParameter &o : faultParameters())
        parser.addOption({QString::fromLatin1(o.name), QString::fromLatin1(o.help), QString::fromLatin1(o.valueName)});

    auto fail = [](const QString &why) {
        std::fprintf(stderr, "orna-sim: %s\n", why.toLocal8Bit().constData());
        return 2;
    };
    // An option it does not take, or an argument (it takes none), is
    // refused as a bad value is; --help and --version print and end with 0.
    if (!parser.parse(QCoreApplication::arguments()))
        return fail(QStringLiteral("%1 See orna-sim --help.").arg(parser.errorText()));
    if (!parser.positionalArguments().isEmpty())
        return fail(QStringLiteral("'%1' is not an option; orna-sim takes options only. See orna-sim --help.")
                        .arg(parser.positionalArguments().constFirst()));
    parser.process(app);

    SimConfig cfg;
    if (parser.isSet(QStringLiteral("controller"))) {
        cfg.controllers.clear();
        for (const QString &given : parser.values(QStringLiteral("controller"))) {
            const QStringList parts = given.split(QLatin1Char(':'));
            bool ok = false;
            const int address = parts[0].toInt(&ok);
            const auto model = parts.size() > 1 ? simModelFromName(parts[1]) : std::optional(SimModel::EzZone);
            if (!ok || address < 0 || address > 35 || !model || parts.size() > 2)
                return fail(QStringLiteral("--controller: '%1' is not ADDR[:ezzone|f4] with ADDR 0-35").arg(given));
            // One controller an address: the converter could not tell two apart.
            for (const SimControllerConfig &c : std::as_const(cfg.controllers))
                if (c.address == address)
                    return fail(QStringLiteral("--controller: '%1' gives address %2 a second controller")
                                    .arg(given, QString::number(address)));
            cfg.controllers.append({address, *model});
        }
    }
    const QString table = parser.value(QStringLiteral("table")).toLower();
    if (table == QLatin1String("ezzone"))
        cfg.startTable = SimStartTable::EzZoneExamples;
    else if (table == QLatin1String("f4"))
        cfg.startTable = SimStartTable::F4Examples;
    else if (table == QLatin1String("empty"))
        cfg.startTable = SimStartTable::Empty;
    else
        return fail(QStringLiteral("--table: '%1' is not ezzone, f4 or empty").arg(table));

    // Times and rates: finite and within what the converter can keep.
    const QString turnaround = parser.value(QStringLiteral("turnaround"));
    const QString busy = parser.value(QStringLiteral("busy"));
    const std::optional<double> turnaroundMs = parseMs(turnaround);
    const std::optional<double> busyMs = parseMs(busy);
    if (!turnaroundMs)
        return fail(badMs(QStringLiteral("--turnaround"), turnaround));
    if (!busyMs)
        return fail(badMs(QStringLiteral("--busy"), busy));
    cfg.turnaroundMs = *turnaroundMs;
    cfg.busyMs = *busyMs;
    auto number = [&](const char *name, double lo, double hi, double &out) {
        bool ok = false;
        const double v = parser.value(QString::fromLatin1(name)).toDouble(&ok);
        if (!ok || !std::isfinite(v) || v < lo || v > hi)
            return false;
        out = v;
        return true;
    };
    if (!number("tau", kSimMinTau, kSimMaxTau, cfg.tauSeconds))
        return fail(QStringLiteral("--tau: '%1' is not a time in seconds from %2 to %3")
                        .arg(parser.value(QStringLiteral("tau")), QString::number(kSimMinTau),
                             QString::number(kSimMaxTau, 'f', 0)));
    if (!number("ripple", 0, kSimMaxRipple, cfg.rippleAmplitude))
        return fail(QStringLiteral("--ripple: '%1' is not an amplitude in degrees from 0 to %2")
                        .arg(parser.value(QStringLiteral("ripple")), QString::number(kSimMaxRipple)));
    bool baudOk = false;
    const int baud = parser.value(QStringLiteral("baud")).toInt(&baudOk);
    if (!baudOk || baud < kSimMinBaud || baud > kSimMaxBaud)
        return fail(QStringLiteral("--baud: '%1' is not a line rate in whole baud from %2 to %3")
                        .arg(parser.value(QStringLiteral("baud")), QString::number(kSimMinBaud),
                             QString::number(kSimMaxBaud)));
    cfg.line.baud = baud;
    cfg.unpaced = parser.isSet(QStringLiteral("unpaced"));
    if (!cfg.line.setFormat(parser.value(QStringLiteral("format"))))
        return fail(QStringLiteral("--format: '%1' is not 8N1, 7E1 or 7O1").arg(parser.value(QStringLiteral("format"))));
    cfg.followPortBaud = !parser.isSet(QStringLiteral("fixed-baud"));

    QStringList settings{QStringLiteral("seed")};
    for (const SimFaultInfo &o : simFaultCatalogue())
        settings << QString::fromLatin1(o.name);
    for (const SimFaultParameter &o : faultParameters())
        settings << QString::fromLatin1(o.name);
    for (const QString &name : settings) {
        if (!parser.isSet(name) && name != QLatin1String("seed"))
            continue;
        const QString problem = applySetting(cfg.faults, name, parser.value(name));
        if (!problem.isEmpty())
            return fail(problem);
    }

    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail(QStringLiteral("cannot create a pipe for signals"));
    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    // Its terminal closed: ended as by SIGTERM, so the link goes too.
    sigaction(SIGHUP, &sa, nullptr);
    // A log reader that goes away (orna-sim | head -1) ends the log, not
    // the converter: writes report EPIPE instead.
    ::signal(SIGPIPE, SIG_IGN);
    QSocketNotifier signalNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [] { QCoreApplication::exit(0); });

    SimServer server(cfg);
    QString error;
    if (!server.start(&error))
        return fail(QStringLiteral("cannot open a pseudo-terminal: %1").arg(error));
    StableLink link;
    if (parser.isSet(QStringLiteral("link"))) {
        const QString path = QFileInfo(parser.value(QStringLiteral("link"))).absoluteFilePath();
        if (!link.make(path, server.devicePath(), &error)) {
            server.stop();
            return fail(QStringLiteral("--link: %1").arg(error));
        }
        say(QStringLiteral("orna-sim: serving on %1 (linked from %2)").arg(server.devicePath(), path));
    } else {
        say(QStringLiteral("orna-sim: serving on %1").arg(server.devicePath()));
    }

    QStringList controllers;
    for (const SimControllerConfig &c : std::as_const(cfg.controllers))
        controllers << QStringLiteral("%1 (%2)").arg(QString::number(c.address), simModelName(c.model));
    const QString rate = cfg.unpaced ? QStringLiteral("unpaced (replies leave at once)")
                                     : QStringLiteral("%1 baud").arg(cfg.line.baud);
    say(QStringLiteral("orna-sim: controllers at %1; table: %2; %3 %4%5; turn-around %6 ms")
            .arg(controllers.isEmpty() ? QStringLiteral("none") : controllers.join(QLatin1String(", ")),
                 table == QLatin1String("empty") ? table : table + QLatin1String(" examples in slots 1-3"), rate,
                 cfg.line.formatName(),
                 cfg.followPortBaud && !cfg.unpaced ? QStringLiteral(" (follows the port)") : QString(),
                 QString::number(cfg.turnaroundMs)));
    say(QStringLiteral("orna-sim: faults: %1").arg(describeFaults(cfg.faults)));

    QObject::connect(&server, &SimServer::frameLogged, [](const SimFrame &f) { say(f.toLogLine()); });
    QObject::connect(&server, &SimServer::lineDropped, &app, [] {
        say(QStringLiteral("orna-sim: line dropped; the device is gone"));
        QCoreApplication::exit(0);
    });
    Console console(server);

    const int rc = app.exec();
    server.stop();
    link.remove();
    say(QStringLiteral("orna-sim: stopped"));
    // The last lines get a moment to go out, not more: the end is prompt
    // whatever the reader does.
    Log::instance().flush(50);
    return rc;
}
