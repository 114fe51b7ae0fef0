// The POP3 client with its real TCP transport against a private Dovecot on loopback.
#include "DovecotSuite.h"
#include "MailMessage.h"
#include "Pop3Client.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <QSet>

#include <memory>

namespace {

using Error = Pop3Client::Error;

QByteArray message(const QByteArray &subject, const QByteArray &body)
{
    return "From: Anna Absender <anna@example.test>\r\nTo: bob@example.test\r\nSubject: " + subject
        + "\r\nMessage-ID: <" + QByteArray::number(qHash(subject + body)) + "@example.test>\r\n\r\n" + body;
}

QByteArray headerBlock(const QByteArray &msg)
{
    return msg.left(msg.indexOf("\r\n\r\n") + 4);
}

class Pop3DovecotTest : public WithDovecot<> {
protected:
    void SetUp() override
    {
        WithDovecot::SetUp();
        if (HasFatalFailure())
            return;
        user = testUser();
        ASSERT_TRUE(server->addUser(user, QStringLiteral("pass-") + user));
    }

    std::unique_ptr<Pop3Client> newClient(Pop3Client::AuthKind kind = Pop3Client::AuthKind::UserPass)
    {
        auto client = std::make_unique<Pop3Client>();
        client->setHost(server->host());
        client->setPort(server->port());
        client->setUserName(user);
        client->setPassword(QStringLiteral("pass-") + user);
        client->setAuthKind(kind);
        client->setConnectTimeout(10000);
        client->setReadTimeout(10000);
        return client;
    }

    int count(Pop3Client &client)
    {
        int n = -1;
        EXPECT_TRUE(client.stat(&n)) << client.lastErrorText().toStdString();
        return n;
    }

    QString user;
};

TEST_F(Pop3DovecotTest, UserPassLoginAndStat)
{
    const QByteArray a = message("first", "one\r\n");
    const QByteArray b = message("second", "two\r\nlines\r\n");
    server->deliver(user, a);
    server->deliver(user, b);
    auto client = newClient();
    ASSERT_TRUE(client->connect()) << client->lastErrorText().toStdString() << server->log().toStdString();
    EXPECT_TRUE(client->isConnected());
    EXPECT_TRUE(client->hasCapability("TOP"));
    EXPECT_TRUE(client->hasCapability("UIDL"));
    int n = 0;
    qint64 octets = 0;
    ASSERT_TRUE(client->stat(&n, &octets));
    EXPECT_EQ(n, 2);
    EXPECT_EQ(octets, a.size() + b.size());
    EXPECT_TRUE(client->quit());
    EXPECT_FALSE(client->isConnected());
}

TEST_F(Pop3DovecotTest, ApopLogin)
{
    server->deliver(user, message("apop", "x\r\n"));
    auto client = newClient(Pop3Client::AuthKind::Apop);
    ASSERT_TRUE(client->connect()) << client->lastErrorText().toStdString() << server->log().toStdString();
    EXPECT_TRUE(client->apopTimestamp().startsWith('<'));
    EXPECT_TRUE(client->apopTimestamp().endsWith('>'));
    EXPECT_EQ(count(*client), 1);
    client->disconnect();
}

TEST_F(Pop3DovecotTest, WrongPasswordCarriesTheServerText)
{
    for (const auto kind : {Pop3Client::AuthKind::UserPass, Pop3Client::AuthKind::Apop}) {
        auto client = newClient(kind);
        client->setPassword(QStringLiteral("wrong"));
        EXPECT_FALSE(client->connect());
        EXPECT_EQ(client->lastError(), Error::ServerError);
        EXPECT_TRUE(client->lastErrorText().contains(QStringLiteral("Authentication failed")))
            << client->lastErrorText().toStdString();
        EXPECT_FALSE(client->isConnected());
    }
}

TEST_F(Pop3DovecotTest, TopGivesTheHeaderBlockWithAnEncodedSubject)
{
    const QByteArray msg = message("=?ISO-8859-1?Q?Gr=FC=DFe_aus_K=F6ln?=", ".starts with a dot\r\nbody\r\n");
    server->deliver(user, msg);
    auto client = newClient();
    ASSERT_TRUE(client->connect()) << client->lastErrorText().toStdString();
    QByteArray header;
    ASSERT_TRUE(client->top(1, 0, &header)) << client->lastErrorText().toStdString();
    EXPECT_EQ(header, headerBlock(msg));
    MailMessage parsed;
    ASSERT_TRUE(parsed.FillFromHeader(header));
    EXPECT_EQ(parsed.Subject, QStringLiteral("Grüße aus Köln"));
    QByteArray withBody;
    ASSERT_TRUE(client->top(1, 1, &withBody));
    EXPECT_EQ(withBody, headerBlock(msg) + ".starts with a dot\r\n");
    client->disconnect();
}

TEST_F(Pop3DovecotTest, ListSizesUidlAndRetr)
{
    const QList<QByteArray> messages = {
        message("small", "a\r\n"), message("dots", "..\r\n.\r\n.x\r\nend\r\n"),
        message("large", QByteArray(5000, 'z') + "\r\n" + QByteArray(70, '.') + "\r\n")};
    for (const QByteArray &m : messages)
        server->deliver(user, m);
    auto client = newClient();
    ASSERT_TRUE(client->connect()) << client->lastErrorText().toStdString();
    ASSERT_EQ(count(*client), 3);

    QMap<int, QByteArray> uids;
    ASSERT_TRUE(client->uidl(&uids));
    EXPECT_EQ(uids.keys(), QList<int>({1, 2, 3}));
    EXPECT_EQ(QSet<QByteArray>(uids.cbegin(), uids.cend()).size(), 3);

    for (int n = 1; n <= 3; ++n) {
        SCOPED_TRACE(n);
        qint64 size = 0;
        ASSERT_TRUE(client->list(n, &size));
        EXPECT_EQ(size, messages[n - 1].size());
        QByteArray uid;
        ASSERT_TRUE(client->uidl(n, &uid));
        EXPECT_EQ(uid, uids.value(n));
        QByteArray whole;
        ASSERT_TRUE(client->retr(n, &whole));
        EXPECT_EQ(whole, messages[n - 1]);
    }
    qint64 size = 0;
    EXPECT_FALSE(client->list(4, &size));
    EXPECT_EQ(client->lastError(), Error::ServerError);
    EXPECT_TRUE(client->isConnected());
    EXPECT_TRUE(client->quit());
}

TEST_F(Pop3DovecotTest, DeleBecomesPermanentOnlyWithQuit)
{
    for (const QByteArray s : {"one", "two", "three"})
        server->deliver(user, message(s, s + "\r\n"));
    QMap<int, QByteArray> before;
    {
        auto client = newClient();
        ASSERT_TRUE(client->connect());
        ASSERT_TRUE(client->uidl(&before));
        ASSERT_TRUE(client->dele(2));
        EXPECT_FALSE(client->dele(2)) << "already marked";
        client->forceClose(); // no QUIT: the server must forget the deletion
    }
    {
        auto client = newClient();
        ASSERT_TRUE(client->connect());
        ASSERT_EQ(count(*client), 3);
        ASSERT_TRUE(client->dele(2));
        ASSERT_TRUE(client->quit());
    }
    auto client = newClient();
    ASSERT_TRUE(client->connect());
    ASSERT_EQ(count(*client), 2);
    QMap<int, QByteArray> after;
    ASSERT_TRUE(client->uidl(&after));
    EXPECT_EQ(after, (QMap<int, QByteArray>{{1, before.value(1)}, {2, before.value(3)}}));
    QByteArray header;
    ASSERT_TRUE(client->top(2, 0, &header));
    EXPECT_TRUE(header.contains("Subject: three\r\n"));
    client->disconnect();
    EXPECT_EQ(server->messageIds(user).size(), 2);
}

TEST_F(Pop3DovecotTest, MessageRemovedByAnotherClientIsGoneAtTheNextLogin)
{
    server->deliver(user, message("keep", "k\r\n"));
    const QString id = server->deliver(user, message("taken", "t\r\n"));
    auto client = newClient();
    ASSERT_TRUE(client->connect());
    ASSERT_EQ(count(*client), 2);
    client->disconnect();
    ASSERT_TRUE(server->remove(user, id));
    ASSERT_TRUE(client->connect());
    EXPECT_EQ(count(*client), 1);
    QByteArray header;
    ASSERT_TRUE(client->top(1, 0, &header));
    EXPECT_TRUE(header.contains("Subject: keep\r\n"));
    client->disconnect();
}

} // namespace
