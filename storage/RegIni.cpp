#include "RegIni.h"

#include "BlowfishCryptUnit.h"
#include "MsgBox.h"

namespace {

const QString kMissingAreaSection = QStringLiteral("Bitte Area und Section angeben.");

void showAreaMessage()
{
    ShowMsgBox(kMissingAreaSection, QString::fromLatin1(platform::kProductName), MsgInformation, BtnOK);
}

bool parseInt(const QString &text, int32_t *out)
{
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    if (ok && out)
        *out = v;
    return ok;
}

} // namespace

QString BoolToYesNo(bool b)
{
    return b ? QStringLiteral("YES") : QStringLiteral("NO");
}

TTheRegIniFile::TTheRegIniFile() = default;
TTheRegIniFile::TTheRegIniFile(std::unique_ptr<platform::RegistryHive> currentUser) : m_user(std::move(currentUser)) {}
TTheRegIniFile::~TTheRegIniFile() = default;

platform::RegistryHive &TTheRegIniFile::Hive()
{
    auto &slot = RegKey == HKEY::CURRENT_USER ? m_user : m_machine;
    if (!slot) {
        slot = std::make_unique<platform::RegistryHive>(
            RegKey == HKEY::CURRENT_USER ? platform::RegRoot::CurrentUser : platform::RegRoot::LocalMachine);
        // The program starts with defaults rather than not at all; the damaged file is kept aside.
        slot->setRecoverDamaged(true);
    }
    return *slot;
}

QString TTheRegIniFile::KeyPath() const
{
    QString area = Area;
    while (area.startsWith(QLatin1Char('\\')))
        area.remove(0, 1);
    if (!area.isEmpty() && !area.endsWith(QLatin1Char('\\')))
        area += QLatin1Char('\\');
    return area + Section;
}

bool TTheRegIniFile::needBoth()
{
    if (Area.isEmpty() || Section.isEmpty()) {
        showAreaMessage();
        return false;
    }
    return true;
}

bool TTheRegIniFile::needArea()
{
    if (Area.isEmpty()) {
        showAreaMessage();
        return false;
    }
    return true;
}

bool TTheRegIniFile::ensureKey(const QString &path)
{
    platform::RegistryHive &h = Hive();
    if (h.keyExists(path))
        return true;
    return h.createKey(path) && h.keyExists(path);
}

bool TTheRegIniFile::readRaw(const QString &name, platform::RegValue *v)
{
    const QString path = KeyPath();
    if (!ensureKey(path) || !Hive().readValue(path, name, v)) {
        m_error = ErrRead;
        return false;
    }
    m_error = ErrOK;
    return true;
}

QString TTheRegIniFile::ReadString(const QString &name, const QString &def)
{
    if (!needBoth())
        return def;
    platform::RegValue v;
    if (!readRaw(name, &v))
        return def;
    if (v.type == platform::RegDword && v.data.size() == 4) {
        // Another program may have stored a number as a DWORD; its text is the decimal value.
        quint32 d = 0;
        for (int i = 3; i >= 0; --i)
            d = (d << 8) | quint8(v.data[i]);
        return QString::number(d);
    }
    return platform::regSzText(v.data);
}

void TTheRegIniFile::WriteString(const QString &name, const QString &text)
{
    if (!needBoth())
        return;
    const QString path = KeyPath();
    m_error = (ensureKey(path) && Hive().setValue(path, name, platform::RegSz, platform::regSzBytes(text)))
                  ? ErrOK
                  : ErrWrite;
    m_writeFailures += m_error == ErrWrite;
}

int32_t TTheRegIniFile::ReadInteger(const QString &name, int32_t def)
{
    if (!needBoth())
        return def;
    const QString s = ReadString(name, QString());
    if (s.isEmpty())
        return def;
    int32_t v = def;
    if (!parseInt(s, &v)) {
        m_error = ErrNotInteger;
        return def;
    }
    return v;
}

void TTheRegIniFile::WriteInteger(const QString &name, int32_t value)
{
    WriteString(name, QString::number(value));
}

bool TTheRegIniFile::ReadBool(const QString &name, bool def)
{
    if (!needBoth())
        return def;
    const QString s = ReadString(name, QString());
    int32_t v = 0;
    if (s.isEmpty() || !parseInt(s, &v))
        return def;
    return v == 1;
}

void TTheRegIniFile::WriteBool(const QString &name, bool value)
{
    WriteString(name, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void TTheRegIniFile::ReadBinary(const QString &name, TMemoryStream &stream)
{
    stream.Data.clear();
    stream.Position = 0;
    if (!needBoth())
        return;
    if (name.isEmpty()) {
        m_error = ErrRead;
        return;
    }
    platform::RegValue v;
    if (!readRaw(name, &v))
        return;
    stream.Data = v.data;
}

void TTheRegIniFile::WriteBinary(const QString &name, const TMemoryStream &stream)
{
    if (!needBoth())
        return;
    const QString path = KeyPath();
    m_error = (ensureKey(path) && Hive().setValue(path, name, platform::RegBinary, stream.Data)) ? ErrOK : ErrWrite;
    m_writeFailures += m_error == ErrWrite;
}

uint32_t TTheRegIniFile::ReadDWord(const QString &name, uint32_t def)
{
    if (!needBoth())
        return def;
    platform::RegValue v;
    if (!readRaw(name, &v))
        return def;
    if (v.type != platform::RegDword || v.data.size() != 4) {
        m_error = ErrRead;
        return def;
    }
    uint32_t d = 0;
    for (int i = 3; i >= 0; --i)
        d = (d << 8) | quint8(v.data[i]);
    return d;
}

void TTheRegIniFile::ReadValueNames(QStringList &list)
{
    list.clear();
    if (!needArea())
        return;
    const QString path = KeyPath();
    if (ensureKey(path))
        if (const auto vals = Hive().values(path))
            for (const auto &v : *vals)
                list.append(v.name);
    m_error = list.isEmpty() ? ErrRead : ErrOK;
}

void TTheRegIniFile::ReadSubKeyNames(QStringList &list)
{
    list.clear();
    if (!needArea())
        return;
    const QString path = KeyPath();
    if (ensureKey(path))
        if (const auto keys = Hive().subKeyNames(path))
            list = *keys;
    m_error = list.isEmpty() ? ErrRead : ErrOK;
}

void TTheRegIniFile::EraseSection(bool deleteSelf)
{
    if (!needBoth())
        return;
    m_error = ErrOK;
    const QString path = KeyPath();
    platform::RegistryHive &h = Hive();
    if (deleteSelf) {
        if (!h.keyExists(path) || !h.deleteTree(path))
            m_error = ErrErase;
        return;
    }
    if (const auto subs = h.subKeyNames(path))
        for (const QString &s : *subs)
            h.deleteTree(path + QLatin1Char('\\') + s);
}
