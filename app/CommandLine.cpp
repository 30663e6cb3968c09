// SPDX-License-Identifier: MIT
#include "app/CommandLine.h"

#include <QCommandLineParser>

#include <cstdio>

std::optional<int> answerCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Bench test utility for the Orna protocol converter: a keyboard on its RS-232 line.\n"
        "Everything it does is chosen in its window; it takes no options but these and Qt's own\n"
        "(such as -platform or -style; --help-all lists them)."));
    parser.addHelpOption();
    parser.addVersionOption();
    const auto refuse = [](const QString &why) {
        std::fprintf(stderr, "ornasertest: %s See ornasertest --help.\n", why.toLocal8Bit().constData());
        return 2;
    };
    if (!parser.parse(arguments))
        return refuse(parser.errorText());
    if (!parser.positionalArguments().isEmpty())
        return refuse(QStringLiteral("'%1' is not an option; the program takes no file or other argument.")
                          .arg(parser.positionalArguments().constFirst()));
    // --help, --help-all, --version: printed, and the program ends (status 0).
    parser.process(arguments);
    return std::nullopt;
}
