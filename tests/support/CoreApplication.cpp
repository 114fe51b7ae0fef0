// Sockets wait in local event loops, which need an application object: one for the whole test run.
#include <QCoreApplication>

#include <gtest/gtest.h>

#include <memory>

namespace {

class CoreApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (!QCoreApplication::instance())
            m_app = std::make_unique<QCoreApplication>(m_argc, m_argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    int m_argc = 1;
    char m_name[16] = "quarvel-test";
    char *m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QCoreApplication> m_app;
};

[[maybe_unused]] ::testing::Environment *const environment =
    ::testing::AddGlobalTestEnvironment(new CoreApplicationEnvironment);

} // namespace
