// libFuzzer target for the INI reader and the .reg importer: any bytes load without a crash or a hang.
#include "IniFile.h"
#include "RegFileFormat.h"

#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    platform::IniFile ini;
    ini.loadFromBytes(bytes);
    for (const QString &section : ini.sections())
        for (const QString &key : ini.keys(section))
            (void)ini.value(section, key);

    // The importer writes only into a throw-away hive.
    static QTemporaryDir dir;
    std::unique_ptr<platform::RegistryHive> hive;
    QString error;
    const auto hives = [&](platform::RegRoot) -> platform::RegistryHive & {
        if (!hive)
            hive = std::make_unique<platform::RegistryHive>(dir.filePath(QStringLiteral("fuzz.db")));
        return *hive;
    };
    platform::importRegText(bytes, hives, &error);
    // As the importers read a file: some keys kept, the rest (and other roots) passed over unread.
    platform::importRegText(bytes, hives, &error, [](platform::RegRoot root, const QString &path) {
        return root == platform::RegRoot::CurrentUser && path.startsWith(QLatin1String("Software"));
    });
    return 0;
}
