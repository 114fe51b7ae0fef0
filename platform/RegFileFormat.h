#pragma once
// The text form of registry keys ("Windows Registry Editor Version 5.00" files): export of a key with
// everything below it, and import of such a file.
#include "RegistryHive.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace platform {

// "HKCU\Software\X", "HKEY_LOCAL_MACHINE\Software" ... -> root and path; false for an unknown root.
bool parseRootedKey(const QString &text, RegRoot *root, QString *path);
QString rootName(RegRoot root); // "HKEY_CURRENT_USER" / "HKEY_LOCAL_MACHINE"

// One value as "name"=data, the way .reg files write it.
QString formatRegValue(const RegValue &v);
// The value data as reg.exe's query shows it ("REG_SZ", text; "REG_DWORD", 0x...; "REG_BINARY", hex).
QString typeName(quint32 type);
QString displayData(const RegValue &v);

// May change a value before it is written (given the path of its key); false stops the export.
using ExportValueFilter = std::function<bool(const QString &path, RegValue &value)>;
// The key and all keys below it, as .reg text (UTF-8, CR LF). False when the key does not exist or the
// filter stopped the export.
bool exportKey(RegistryHive &hive, RegRoot root, const QString &path, QByteArray *out,
               const ExportValueFilter &filter = {});

using HiveForRoot = std::function<RegistryHive &(RegRoot)>;
using KeyFilter = std::function<bool(RegRoot, const QString &path)>;
// Applies a .reg file (UTF-16 with BOM, UTF-8 or Windows-1252). Writes go in one transaction per
// hive; on a syntax error nothing is written and *error names the line. With a filter, keys it
// refuses (and their values, which are not read) are left out, and so are keys under roots that are not
// kept here (HKEY_CLASSES_ROOT, HKEY_USERS, ...); without a filter such a key refuses the file.
bool importRegText(const QByteArray &bytes, const HiveForRoot &hives, QString *error,
                   const KeyFilter &keep = {});

} // namespace platform
