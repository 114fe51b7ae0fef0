#pragma once
// One private Dovecot for a whole test suite: started before its first test, stopped after its last.
// Base is the fixture to extend (::testing::Test or a fixture of the test's own).
#include "DovecotServer.h"

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

    // A user name of the test's own (its name in lower case), so every test has a mailbox of its own.
    static QString testUser()
    {
        return QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name()).toLower();
    }

    static inline DovecotServer *server = nullptr;
    static inline bool started = false;
    static inline std::string startError;
};
