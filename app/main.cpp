// Quarvel's entry point. The window and tray follow; for now the program loads its settings and
// reports where they live.
#include "Paths.h"
#include "RegistrySettingsUnit.h"

#include <QApplication>
#include <QTextStream>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(platform::kProductName));
    TRegistrySettings settings;
    settings.Load();
    QTextStream(stderr) << "Quarvel " << kProgramVersion << ": Einstellungen in "
                        << platform::registryFile(platform::RegRoot::CurrentUser) << ", Daten in "
                        << settings.GetDataFolder() << ", " << settings.Settings.Accounts.size()
                        << " Postfach/Postfächer.\n";
    return 0;
}
