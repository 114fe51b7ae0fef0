#pragma once
// A coordinator on the real transport against a suite's private Dovecot (DovecotSuite.h), with a mailbox
// of the test's own.
#include "CheckerTestSupport.h"
#include "DovecotSuite.h"

template <typename Suite>
class MailboxOnDovecot : public Suite {
protected:
    void SetUp() override
    {
        Suite::SetUp();
        if (this->HasFatalFailure())
            return;
        user = Suite::testUser();
        ASSERT_TRUE(Suite::server->addUser(user, password()));
    }

    QString password() const { return QStringLiteral("pass-") + user; }

    // Stores the accounts and makes a coordinator on the real transport, with time-outs short enough for
    // a test that goes wrong.
    void makeRealChecker(const TPOP3Accounts &accounts, TPOP3Check check = {}, TPop3Options options = {})
    {
        this->checker.reset();
        this->settings.Settings.Accounts = accounts;
        ASSERT_TRUE(this->settings.SavePOP3Settings(check, accounts));
        options.TimeoutMs = 10000;
        this->checker = std::make_unique<TPOP3Checker>(this->settings, this->detector, this->ui, options);
    }

    QList<TMailEntry *> rows() const
    {
        QList<TMailEntry *> out;
        for (TMailEntry *e : this->checker->MailList)
            out << e;
        return out;
    }

    QString user;
};
