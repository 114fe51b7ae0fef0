#pragma once
// An INI file read with the Windows profile rules: sections and keys compare without regard to case,
// values are trimmed, the first occurrence of a key in a section wins, lines starting with ';' are
// comments. Reading never changes the file.
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace platform {

class IniFile {
public:
    bool load(const QString &path);
    void loadFromBytes(const QByteArray &bytes);

    bool hasSection(const QString &section) const;
    // Empty optional-like result through *found when the section or key is missing.
    QString value(const QString &section, const QString &key, bool *found = nullptr) const;
    // Key names of a section in file order (each once).
    QStringList keys(const QString &section) const;
    QStringList sections() const;

private:
    struct Section {
        QString name;
        QList<QPair<QString, QString>> entries;
        QHash<QString, qsizetype> firstEntry; // folded key -> index of its first entry
    };
    const Section *find(const QString &section) const;
    QList<Section> m_sections;
    // Folded name -> position, so files with thousands of sections load and read in linear time.
    QHash<QString, qsizetype> m_index;
};

} // namespace platform
