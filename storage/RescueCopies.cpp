#include "RescueCopies.h"

#include "Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

QString RescueFolder(const QString &dataFolder)
{
    return platform::withTrailingSlash(dataFolder) + kRescueFolderName + QLatin1Char('/');
}

TRescuePolicy RescuePolicyFor(const TProgramSettings &settings, const QString &dataFolder)
{
    TRescuePolicy policy;
    policy.Enabled = settings.KeepDeletedCopies;
    policy.MaxBytes = qint64(std::max(settings.DeletedCopyLimitKB, 0)) * 1024;
    policy.Folder = RescueFolder(dataFolder);
    return policy;
}

QString RescueTooLargeNote(qint64 maxBytes)
{
    return QStringLiteral("keine Kopie: größer als %1 KB").arg(maxBytes / 1024);
}

QString RescueCopyName(qint64 recordId, const QDateTime &time)
{
    return time.toString(QStringLiteral("yyyyMMdd-HHmmss")) + QLatin1Char('-') + QString::number(recordId)
           + QStringLiteral(".eml");
}

bool WriteRescueCopy(const QString &folder, const QString &name, const QByteArray &raw, QString *error)
{
    const auto fail = [error](const QString &text) {
        if (error)
            *error = QStringLiteral("Die Sicherungskopie der E-Mail konnte nicht gespeichert werden: %1").arg(text);
        return false;
    };
    if (!platform::makePrivateFolder(folder))
        return fail(folder);
    // Local mail files (maildir, mbox, .eml) end their lines as the platform does.
    QByteArray local = raw;
    local.replace("\r\n", "\n");
    // Written beside and renamed, after a sync: the server deletes the message at the end of the session,
    // and its copy must be on the disk by then. That sync is most of what a copy costs.
    QSaveFile file(folder + name);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    // Mail is for the owner's eyes only.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    if (file.write(local) != local.size()) {
        const QString why = file.errorString();
        file.cancelWriting();
        file.commit();
        return fail(why);
    }
    return file.commit() || fail(file.errorString());
}

int ExpireRescueCopies(const QString &folder, const QDateTime &now, int days)
{
    const QDateTime limit = now.addDays(-days);
    int removed = 0;
    const QFileInfoList files =
        QDir(folder).entryInfoList({QStringLiteral("*.eml")}, QDir::Files | QDir::Hidden | QDir::NoSymLinks);
    for (const QFileInfo &f : files)
        if (f.lastModified() < limit && QFile::remove(f.absoluteFilePath()))
            ++removed;
    return removed;
}
