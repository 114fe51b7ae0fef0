#pragma once
// POP3 and IMAP accounts of the mail programs of Linux desktops that keep them in plain files: Evolution
// (its account source files) and KMail (the configuration of its POP3 and IMAP resources). Only what the files
// hold is read; passwords live in the desktop's password store and are never touched.
#include "ImportRecords.h"

#include <QString>
#include <QStringList>

class TEvolutionImport {
public:
    // Looks below this home folder (empty: the user's own).
    explicit TEvolutionImport(const QString &home = QString());

    // Folders of source files that exist: Evolution's own, then its Flatpak place.
    QStringList SourceFolders() const;
    // More source files than this in one folder are not read.
    static constexpr int kMaxSources = 5000;

    // The POP3 and IMAP accounts, each with the address of its identity and the outgoing server of that
    // identity; an account found in both folders is listed once.
    void GetAccounts(TOEAccountList &list);

private:
    QString m_home;
};

class TKMailImport {
public:
    explicit TKMailImport(const QString &home = QString());

    // Configuration folders that exist: the user's own, then KMail's Flatpak place.
    QStringList ConfigFolders() const;
    static constexpr int kMaxResources = 5000;

    // The POP3 and IMAP resources. They hold no outgoing server or sender address.
    void GetAccounts(TOEAccountList &list);

private:
    QString m_home;
};
