#pragma once
// Accounts of the Mozilla family (Thunderbird, SeaMonkey, the Mozilla suite, Netscape 6/7): the
// profiles listed in an application folder's profiles.ini, and a profile's prefs.js.
#include "ImportRecords.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

// The preferences of a prefs.js file, by exact name: the value of a string preference with its escapes
// resolved, of a number or a truth value as written. The first setting of a name counts.
class TPrefsJs {
public:
    // Only names beginning with "mail." are kept: they are all an import needs.
    void Parse(const QByteArray &bytes);
    bool Has(const QString &name) const { return m_values.contains(name); }
    QString Value(const QString &name) const { return m_values.value(name); }
    const QHash<QString, QString> &Values() const { return m_values; }

    // A file with more preferences than this keeps the first ones.
    static constexpr qsizetype kMaxPrefs = 200000;

private:
    QHash<QString, QString> m_values;
};

// The POP3 and IMAP accounts of a profile's preferences, in the order of their server numbers.
TOEAccountList MozillaAccounts(const TPrefsJs &prefs);

struct TMozProfile {
    QString Name;
    QString Path; // as profiles.ini gives it ('\' turned into '/')
};

class TMozillaImport {
public:
    // The application folders are looked for below this home folder (empty: the user's own).
    explicit TMozillaImport(const QString &home = QString());

    QStringList ProfileFolders;  // application folders found, without a trailing '/'
    QList<TMozProfile> Profiles; // profiles of the folder loaded last

    // prefs.js files larger than this are read as far as this.
    static constexpr qint64 kMaxPrefsBytes = 64 * 1024 * 1024;

    // The application folders of the Linux mail programs of this family that hold a profiles.ini:
    // Thunderbird's home folder, its Flatpak and Snap places, SeaMonkey's, in that order.
    void FindProfileFolders();
    // Lists the profiles of an application folder from its profiles.ini; nothing happens when that
    // folder is loaded already.
    void ReadProfiles(const QString &folder);
    // The folder of a listed profile: the application folder joined with the profile's path when that
    // exists, otherwise the path as it stands.
    QString ProfileFolder(const QString &folder, const TMozProfile &profile) const;
    // The POP3 and IMAP accounts of a profile folder's prefs.js; none when it cannot be read.
    void GetAccounts(const QString &profileFolder, TOEAccountList &list);

private:
    QString m_home;
    QString m_loaded; // the folder whose profiles are listed, with a trailing '/'
};
