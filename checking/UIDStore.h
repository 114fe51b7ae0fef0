#pragma once
// The file of message identifiers already seen ("uids.dat"): one identifier per line, lines ended by
// CR LF, written as UTF-8 (lines written by older versions in the Windows code page read as well).
//
// An identifier may hold line breaks (one made of a message's size and header block), so a line is
// escaped: a backslash is written as "\\", CR as "\r" and LF as "\n". Identifiers without these
// characters are written exactly as before, and every identifier reads back as the one it was.
#include <QByteArray>
#include <QString>
#include <QStringList>

// The file's name in the data folder.
inline const QString kUIDFileName = QStringLiteral("uids.dat");

QByteArray EscapeUIDLine(const QString &id);
QString UnescapeUIDLine(const QByteArray &line);

// The file's contents for these identifiers, in order.
QByteArray FormatUIDFile(const QStringList &ids);
// The identifiers of a file's contents; empty lines are skipped.
QStringList ParseUIDFile(const QByteArray &data);

// Reads the file; a missing or unreadable file gives an empty list.
QStringList ReadUIDFile(const QString &path);
// Replaces the file as a whole through a temporary file and a rename: a failed or interrupted save
// leaves the previous file whole. The file is for its owner alone (0600). False on failure.
bool WriteUIDFile(const QString &path, const QStringList &ids);
