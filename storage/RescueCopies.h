#pragma once
// Rescue copies of deleted messages: before a POP3 deletion the whole message is fetched and kept as an
// .eml file in the data folder's "Geloescht" folder for 14 days, so that a message a rule caught by
// mistake can be had back. Messages above the size limit are deleted without a copy.
#include "TypeDef.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

inline const QString kRescueFolderName = QStringLiteral("Geloescht");
inline constexpr int kRescueDays = 14;

// What a deletion run does about copies; the job gets its own copy.
struct TRescuePolicy {
    bool Enabled = false;
    qint64 MaxBytes = 0; // larger messages go without a copy
    QString Folder;      // with a trailing '/'
};

// The rescue folder of a data folder (given with its trailing '/').
QString RescueFolder(const QString &dataFolder);
// The policy the program settings ask for.
TRescuePolicy RescuePolicyFor(const TProgramSettings &settings, const QString &dataFolder);

// Why a message has no copy: "keine Kopie: größer als 512 KB".
QString RescueTooLargeNote(qint64 maxBytes);

// The file name of the copy that belongs to a deletion log record.
QString RescueCopyName(qint64 recordId, const QDateTime &time);
// Writes a message as RETR delivers it (CR LF line ends) into folder + name with the line ends of the
// platform's mail files, for its owner alone; the file appears whole or not at all. False with *error.
bool WriteRescueCopy(const QString &folder, const QString &name, const QByteArray &raw, QString *error);
// Removes the copies (*.eml) of the folder last written more than days before now; nothing else there.
// Returns how many went.
int ExpireRescueCopies(const QString &folder, const QDateTime &now = QDateTime::currentDateTime(),
                       int days = kRescueDays);
