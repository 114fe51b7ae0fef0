#pragma once
// One private Dovecot for a whole test suite: started before its first test, stopped after its last.
// Base is the fixture to extend (::testing::Test or a fixture of the test's own). WithTlsDovecot: the same
// server taking logins only over TLS, with a self-signed certificate for 127.0.0.1.
#include "DovecotServer.h"
#include "TestCertificates.h"

#include <gtest/gtest.h>

#include <string>

template <typename Base = ::testing::Test>
class WithDovecot : public Base {
protected:
    static void SetUpTestSuite()
    {
        server = new DovecotServer;
        QString error;
        started = server->start(&error);
        startError = error.toStdString();
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }

    void SetUp() override
    {
        Base::SetUp();
        ASSERT_TRUE(started) << startError;
    }

    // A user name of the test's own (its name in lower case, a parameter's name after a '-'), so every
    // test has a mailbox of its own.
    static QString testUser()
    {
        return QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name())
            .toLower()
            .replace(QLatin1Char('/'), QLatin1Char('-'));
    }

    static inline DovecotServer *server = nullptr;
    static inline bool started = false;
    static inline std::string startError;
};

template <typename Base = ::testing::Test>
class WithTlsDovecot : public WithDovecot<Base> {
protected:
    using Suite = WithDovecot<Base>;

    static void SetUpTestSuite()
    {
        certificates = new TestCertificates;
        Suite::server = new DovecotServer;
        QString error;
        Suite::started =
            Suite::server->setSelfSignedTls(*certificates, QStringLiteral("Quarvel Dovecot"), &certificate, &error)
            && Suite::server->start(&error);
        Suite::startError = error.toStdString();
    }
    static void TearDownTestSuite()
    {
        Suite::TearDownTestSuite();
        delete certificates;
        certificates = nullptr;
    }

    static inline TestCertificates *certificates = nullptr;
    static inline TestCertificate certificate; // the server's
};
