// SPDX-License-Identifier: MIT
#pragma once
// The few places where the main window reaches the desktop: the system beep,
// the Yes/No/Cancel question box, running the port settings dialog, the help
// viewer, the file and folder choosers, warnings and the end of the program.
// Tests replace them with their own.

#include <QString>

#include <functional>

class QWidget;
class frmPorts;

class UiSeams
{
public:
    enum Answer { Yes, No, Cancel };

    virtual ~UiSeams() = default;
    // Sounds the desktop's beep through systemBeep.
    virtual void beep();
    // The desktop's beep, QApplication::beep. A test may put a counting
    // stand-in here to see the real seam reach the desktop.
    static void (*systemBeep)();
    // A modal question with Yes (default), No and Cancel and no icon.
    virtual Answer askYesNoCancel(QWidget *parent, const QString &text, const QString &title);
    // Shows the port settings dialog modally until the user leaves it.
    virtual void runPortsDialog(frmPorts &dialog);
    // Opens a help document with the desktop's viewer and never blocks.
    // When the document cannot be shown, `failed` gets the reason: at once
    // (no opener installed), or when the desktop has said that no program
    // opens documents of its type or the opener has ended in failure. Once
    // `parent` is gone, nothing more is reported.
    virtual void showHelp(QWidget *parent, const QString &path, const std::function<void(const QString &)> &failed);
    // Asks where to save a file, starting at `suggested`; empty when the
    // user cancelled. Nothing is remembered between runs.
    virtual QString askSaveFile(QWidget *parent, const QString &title, const QString &suggested,
                                const QString &filter);
    // Asks for a folder; empty when the user cancelled.
    virtual QString askFolder(QWidget *parent, const QString &title);
    // Asks for a file to open; empty when the user cancelled.
    virtual QString askOpenFile(QWidget *parent, const QString &title, const QString &filter);
    // A warning the user must see, shown without blocking the window (a
    // running loop goes on).
    virtual void warn(QWidget *parent, const QString &title, const QString &text);
    // Ends the program after the main window has closed.
    virtual void endProgram();
};
