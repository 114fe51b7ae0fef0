#include "SpamFilterClassUnit.h"

#include "MsgBox.h"
#include "RegistrySettingsUnit.h"
#include "TextCodec.h"

#include <QFile>
#include <QIODevice>
#include <QSaveFile>
#include <QtEndian>

#include <algorithm>
#include <limits>

namespace {

// Reads exactly n bytes or fails.
bool readExact(QIODevice &in, char *buf, qint64 n)
{
    return in.read(buf, n) == n;
}

bool readInt32(QIODevice &in, int32_t &value)
{
    char b[4];
    if (!readExact(in, b, 4))
        return false;
    value = qFromLittleEndian<int32_t>(b);
    return true;
}

// A length-prefixed 8-bit string. The length is checked against what the device still holds, so a
// damaged length can neither allocate much nor read past the end.
bool readString(QIODevice &in, QString &text)
{
    int32_t len = 0;
    if (!readInt32(in, len) || len < 0)
        return false;
    if (len == 0) {
        text.clear();
        return true;
    }
    if (!in.isSequential() && qint64(len) > in.size() - in.pos())
        return false;
    // In pieces, so that even a device of unknown size cannot make one length allocate much.
    QByteArray bytes;
    while (bytes.size() < len) {
        const QByteArray piece = in.read(std::min<qint64>(len - bytes.size(), 65536));
        if (piece.isEmpty())
            return false;
        bytes.append(piece);
    }
    text = platform::decode8bit(bytes);
    return true;
}

bool readRecord(QIODevice &in, TSimpleFilter &rule)
{
    char head[4];
    if (!readExact(in, head, 4))
        return false;
    // The file puts CaseSensitive second and Operation before Kind.
    rule.Active = head[0] != 0;
    rule.CaseSensitive = head[1] != 0;
    rule.Operation = uint8_t(head[2]);
    rule.Kind = uint8_t(head[3]);
    if (!readString(in, rule.Text))
        return false;
    if (!readInt32(in, rule.Reserved))
        return false;
    char reserved2 = 0;
    if (!readExact(in, &reserved2, 1))
        return false;
    rule.Reserved2 = uint8_t(reserved2);
    return readString(in, rule.HeaderField);
}

bool appendString(QByteArray &out, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    if (bytes.size() > std::numeric_limits<int32_t>::max())
        return false;
    char len[4];
    qToLittleEndian<int32_t>(int32_t(bytes.size()), len);
    out.append(len, 4);
    out.append(bytes);
    return true;
}

// Overwrites an existing file with data. On failure the previous contents are written back, which
// fit where they were before; false then. Unbuffered, so that a failed write leaves nothing pending
// that would stop the way back.
bool writeInPlace(const QString &name, const QByteArray &data)
{
    QFile file(name);
    if (!file.open(QIODevice::ReadWrite | QIODevice::ExistingOnly | QIODevice::Unbuffered))
        return false;
    const QByteArray previous = file.readAll();
    if (file.seek(0) && file.write(data) == data.size() && file.resize(data.size()) && file.flush())
        return true;
    file.seek(0);
    file.write(previous);
    file.resize(previous.size());
    file.flush();
    return false;
}

} // namespace

void FreeFilterList(TFilterList &list)
{
    qDeleteAll(list);
    list.clear();
}

TSpamFilterClass::TSpamFilterClass(TRegistrySettings &settings)
    : m_settings(settings), m_list(new TFilterList)
{
    m_settings.Settings.Filters = m_list;
}

TSpamFilterClass::~TSpamFilterClass()
{
    FreeFilterList(*m_list);
    if (m_settings.Settings.Filters == m_list)
        m_settings.Settings.Filters = nullptr;
    delete m_list;
}

QString TSpamFilterClass::FilterFileName()
{
    return m_settings.GetDataFolder() + kFilterFileName;
}

void TSpamFilterClass::LoadFilters()
{
    FreeFilterList(*m_list);
    QFile file(FilterFileName());
    if (!file.open(QIODevice::ReadOnly))
        return;
    ReadFilterRecords(file, *m_list);
}

bool TSpamFilterClass::SaveFilters()
{
    const QString name = FilterFileName();
    QByteArray data;
    bool ok = WriteFilterRecords(*m_list, data);
    if (ok) {
        // Written beside the old file and renamed over it: a failed or interrupted save keeps the
        // previous rules whole instead of leaving a file cut short.
        QSaveFile file(name);
        if (file.open(QIODevice::WriteOnly))
            ok = file.write(data) == data.size() && file.commit();
        else
            // No new file can be made in the folder (a folder the user may not write), but the old
            // file itself may still be writable.
            ok = writeInPlace(name, data);
    }
    if (!ok)
        ShowMsgBox(kFilterSaveError, QString(), MsgError, BtnOK);
    return ok;
}

void TSpamFilterClass::AddFilter(const TSimpleFilter &rule)
{
    m_list->append(new TSimpleFilter(rule));
}

void TSpamFilterClass::DeleteFilter(int index)
{
    if (index < 0 || index >= m_list->size())
        return;
    delete m_list->takeAt(index);
}

void TSpamFilterClass::ReplaceFilters(const QList<TSimpleFilter> &rules)
{
    FreeFilterList(*m_list);
    m_list->reserve(rules.size());
    for (const TSimpleFilter &r : rules)
        m_list->append(new TSimpleFilter(r));
}

void TSpamFilterClass::ClearFilters()
{
    FreeFilterList(*m_list);
}

void TSpamFilterClass::ReadFilterRecords(QIODevice &in, TFilterList &list)
{
    while (!in.atEnd()) {
        auto *rule = new TSimpleFilter;
        if (!readRecord(in, *rule)) {
            // A damaged or incomplete last record is dropped; the rules before it stay.
            delete rule;
            return;
        }
        list.append(rule);
    }
}

bool TSpamFilterClass::WriteFilterRecords(const TFilterList &list, QByteArray &out)
{
    out.clear();
    for (const TSimpleFilter *r : list) {
        if (!r)
            continue;
        const char head[4] = {char(r->Active ? 1 : 0), char(r->CaseSensitive ? 1 : 0), char(r->Operation),
                              char(r->Kind)};
        out.append(head, 4);
        if (!appendString(out, r->Text))
            return false;
        char reserved[4];
        qToLittleEndian<int32_t>(r->Reserved, reserved);
        out.append(reserved, 4);
        out.append(char(r->Reserved2));
        if (!appendString(out, r->HeaderField))
            return false;
    }
    return true;
}
