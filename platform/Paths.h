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
// in the install's share folder, else in the source tree's resources (a build run in place).
// programDir defaults to the running program's folder.
QString findDataFile(const QString &name, const QString &programDir = QString());
// Adds a trailing '/' unless the text is empty or already has one.
QString withTrailingSlash(const QString &path);

} // namespace platform
