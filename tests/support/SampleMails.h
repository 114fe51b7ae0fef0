#pragma once
// Real-world messages from Debian packages (spamassassin's examples, Python's e-mail test data): odd
// encodings, nested multiparts, broken headers. scripts/install-deps.sh installs both packages.
#include <QDir>
#include <QString>
#include <QStringList>

inline const char *const kSpamExamples = "/usr/share/doc/spamassassin/examples";
inline const char *const kPythonData = "/usr/lib/python3.11/test/test_email/data";

// Every sample file: Python's msg_*.txt by name, then spamassassin's spam and non-spam sample.
inline QStringList SampleMailFiles()
{
    QStringList files;
    for (const QString &name : QDir(kPythonData).entryList({"msg_*.txt"}, QDir::Files, QDir::Name))
        files.append(QString(kPythonData) + '/' + name);
    files.append(QString(kSpamExamples) + "/sample-spam.txt");
    files.append(QString(kSpamExamples) + "/sample-nonspam.txt");
    return files;
}
