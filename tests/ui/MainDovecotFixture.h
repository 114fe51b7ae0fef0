#pragma once
// The main window against a private Dovecot: a fresh mailbox per test, a profile with its accounts and
// rules, worker options for quick timed checks, and the list as "number:subject" lines.
#include "DovecotSuite.h"
#include "EventWait.h"
#include "MainUnit.h"
#include "MessageListUnit.h"
#include "POP3Check.h"
#include "RegistrySettingsUnit.h"
#include "SpamFilterClassUnit.h"
#include "TestProfile.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>

inline QByteArray mail(const QByteArray &subject, const QByteArray &body = "Hallo.\r\n")
{
    return "From: Absender <absender@example.test>\r\nTo: anna@example.test\r\nSubject: " + subject
           + "\r\nMessage-ID: <" + subject.toHex() + "@example.test>\r\n\r\n" + body;
}

// Waits until the operation a command started has ended (at once when none runs), and for what its end
// queued.
inline void settle(TMain &main)
{
    EXPECT_TRUE(processEventsUntil([&] { return !main.Checker().OperationRunning(); }, 120000))
        << "the operation never ended";
    QCoreApplication::processEvents();
}

class MainDovecotTest : public WithDovecot<> {
protected:
    // A fresh mailbox for this test, holding these messages; returns their maildir names.
    QStringList mailbox(const QString &user, const QList<QByteArray> &subjects)
    {
        EXPECT_TRUE(server->addUser(user, QStringLiteral("pw-") + user));
        QStringList ids;
        for (const QByteArray &s : subjects)
            ids << server->deliver(user, mail(s, "Text von " + s + "\r\n"));
        return ids;
    }

    void writeProfile(const QStringList &users, bool timed = false, const QString &spamSubject = QString())
    {
        TRegistrySettings s;
        s.Load();
        s.Settings.FirstStart = false;
        s.Settings.POP3Check.EMailCheck = timed;
        s.Settings.POP3Check.AutoKillSpam = true;
        s.Settings.POP3Check.ShowUserInfoBeforeKillSpam = true;
        for (const QString &u : users) {
            TPOP3AccountSettings a;
            a.ServerName = server->host();
            a.Port = accountPort ? accountPort : server->port();
            a.AccountName = u;
            a.Password = u == QLatin1String("wrongpw") ? QStringLiteral("falsch") : QStringLiteral("pw-") + u;
            s.Settings.Accounts.append(a);
        }
        s.Save();
        if (!spamSubject.isEmpty()) {
            TSpamFilterClass rules(s);
            TSimpleFilter r;
            r.Active = true;
            r.Kind = fkSubject;
            r.Operation = foContains;
            r.Text = spamSubject;
            rules.AddFilter(r);
            ASSERT_TRUE(rules.SaveFilters());
        }
    }

    static TMainOptions options(bool timed)
    {
        TMainOptions o;
        o.TrayAvailable = [] { return true; };
        o.AdjustPop3 = [timed](TPop3Options &p) {
            p.TimeoutMs = 10000;
            p.FirstWakeMs = timed ? 100 : 3600 * 1000;
            p.WakeMs = timed ? 100 : 3600 * 1000;
            if (timed) {
                // Time runs fast for the worker, so the first wake-up already finds a check due.
                auto t = std::make_shared<std::atomic<int32_t>>(0);
                p.Clock = [t] { return t->fetch_add(1000) % 86400; };
            }
        };
        return o;
    }

    QStringList listed(TMain &main)
    {
        QStringList out;
        for (TMailEntry *e : main.MessageList().RowEntries())
            out << QStringLiteral("%1:%2").arg(e->MsgNumber).arg(e->Message.Subject);
        return out;
    }

    void TearDown() override
    {
        // A test that quits the program leaves the boxes switched off for the whole process.
        SetMessageBoxesSuppressed(false);
        WithDovecot<>::TearDown();
    }

    quint16 accountPort = 0; // the accounts' port when not Dovecot's own (a relay in front of it)
    TestProfile profile;
    RecordingMessageBox box{IDYES};
};
