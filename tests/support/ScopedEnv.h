#pragma once
// Environment variables set for one test only.
#include <QByteArray>
#include <QtGlobal>

#include <map>
#include <string>
#include <utility>

// Sets environment variables for one test and puts the old values back.
class ScopedEnv {
public:
    void set(const char *name, const QByteArray &value)
    {
        remember(name);
        qputenv(name, value);
    }
    void unset(const char *name)
    {
        remember(name);
        qunsetenv(name);
    }
    ~ScopedEnv()
    {
        for (const auto &[name, old] : m_old)
            if (old.first)
                qputenv(name.c_str(), old.second);
            else
                qunsetenv(name.c_str());
    }

private:
    void remember(const char *name)
    {
        if (!m_old.count(name))
            m_old[name] = {qEnvironmentVariableIsSet(name), qgetenv(name)};
    }
    std::map<std::string, std::pair<bool, QByteArray>> m_old;
};
