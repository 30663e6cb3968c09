// SPDX-License-Identifier: MIT
#pragma once
// Stand-ins for the desktop: counted beeps, scripted answers to the question
// box and the file and folder choosers, a scripted port dialog, recorded
// help requests (failing at once or later), warnings and program ends.

#include "app/UiSeams.h"

#include <QList>
#include <QStringList>
#include <functional>

class FakeSeams : public UiSeams
{
public:
    int beeps = 0;
    QList<Answer> answers; // taken in order; Cancel when none is left
    QStringList questions;  // "title|text" of every question asked
    std::function<void(frmPorts &)> dialog; // what the user does in the port dialog
    int dialogRuns = 0;
    QStringList helpShown;
    QString helpProblem; // why showHelp fails at once (empty: it does not)
    // The failure report of the last help request: called later, it is the
    // opener failing after the window went on.
    std::function<void(const QString &)> helpFailed;
    int programEnds = 0;
    QStringList saveAnswers;   // paths the save chooser gives, in order; cancelled when none is left
    QStringList folderAnswers; // folders the folder chooser gives, likewise
    QStringList warnings;      // "title|text" of every warning

    void beep() override { ++beeps; }
    Answer askYesNoCancel(QWidget *, const QString &text, const QString &title) override;
    void runPortsDialog(frmPorts &dialog) override;
    void showHelp(QWidget *, const QString &path, const std::function<void(const QString &)> &failed) override
    {
        helpShown << path;
        helpFailed = failed;
        if (!helpProblem.isEmpty())
            failed(helpProblem);
    }
    QString askSaveFile(QWidget *, const QString &, const QString &, const QString &) override
    {
        return saveAnswers.isEmpty() ? QString() : saveAnswers.takeFirst();
    }
    QStringList openAnswers; // files the open chooser gives, in order; cancelled when none is left
    QString askOpenFile(QWidget *, const QString &, const QString &) override
    {
        return openAnswers.isEmpty() ? QString() : openAnswers.takeFirst();
    }
    QString askFolder(QWidget *, const QString &) override
    {
        return folderAnswers.isEmpty() ? QString() : folderAnswers.takeFirst();
    }
    void warn(QWidget *, const QString &title, const QString &text) override
    {
        warnings << title + QLatin1Char('|') + text;
    }
    void endProgram() override { ++programEnds; }
};
