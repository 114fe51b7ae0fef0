#pragma once
// Where the program's files live. Setting QUARVEL_PROFILE to a folder moves the whole profile (both
// registry hives and the application-data folder) there, so tests and the demo never touch a real one.
#include <QString>

namespace platform {

inline constexpr const char *kProfileEnv = "QUARVEL_PROFILE";
inline constexpr const char *kProductName = "Quarvel";

enum class RegRoot { CurrentUser, LocalMachine };

// The profile folder named by QUARVEL_PROFILE, or empty when the real profile is in use.
QString profileOverride();
// The SQLite file that holds one registry hive.
QString registryFile(RegRoot root);
// Folder of the running executable, with a trailing '/'.
QString programFolder();
// Full path of the running executable.
QString programFile();
// The user's application-data folder (no trailing '/'); created when missing.
QString appDataFolder();
// Installed data files (manual.htm, EProv.ini, the default Filters.dat): beside the program, else
// in the install's share folder, else, for a program that runs inside the build tree it was built in,
// in the source tree's resources. programDir defaults to the running program's folder.
QString findDataFile(const QString &name, const QString &programDir = QString());
// Makes sure the folder exists: a missing one is created (with the folders above it) for its owner alone
// (0700), as it holds mail data; one that exists already keeps its mode, as the user may have chosen a
// shared folder on purpose. False when it cannot be created.
bool makePrivateFolder(const QString &path);
// Adds a trailing '/' unless the text is empty or already has one.
QString withTrailingSlash(const QString &path);

} // namespace platform
