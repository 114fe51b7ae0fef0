// Quarvel's start: one instance per user and profile, then the main window, hidden in the tray (or, on a
// desktop without a tray area, minimized to the task bar).
// The only argument of its own is --version.
#include "MainUnit.h"
#include "MsgBox.h"
#include "Paths.h"
#include "QtMessageBox.h"
#include "RegistrySettingsUnit.h"
#include "SingleInstance.h"

#include <QApplication>

#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    // Answered before any window system is needed, so that it works on a console and in scripts.
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("%s %s\n", platform::kProductName, kProgramVersion.toUtf8().constData());
            return 0;
        }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(platform::kProductName));
    // The program lives in the tray: closing its last window must not end it.
    QApplication::setQuitOnLastWindowClosed(false);

    TQtMessageBox messageBox;
    SetMessageBoxHandler(&messageBox);

    TSingleInstance instance;
    if (!instance.Claim()) {
        ErrorBox(QStringLiteral("Quarvel läuft bereits! Nutzen Sie die vorhandene Instanz."));
        TSingleInstance::RequestRestore();
        SetMessageBoxHandler(nullptr);
        return 1;
    }

    int rc = 0;
    {
        TMain main;
        instance.OnRestoreRequest = [&main] { main.ShowMainWindow(); };
        main.ShowAtStart();
        rc = app.exec();
        instance.OnRestoreRequest = nullptr;
    }
    SetMessageBoxHandler(nullptr);
    return rc;
}
