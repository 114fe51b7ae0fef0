#include "HttpTestServer.h"
#include "RegIni.h"
#include "TestProfile.h"
#include "ZirpelSendClassUnit.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

const QByteArray kQuery = "?Username=kunde&Password=geheim%261&SMSTo=00491711234567&SMSType=V%1"
                          "&SMSText=M%FCller%3A+Treffen+10%3A30%3F";

void setGatewayHost(const QString &host)
{
    TTheRegIniFile reg;
    reg.Area = kZirpelHostArea;
    reg.Section = kZirpelHostSection;
    reg.WriteString(kZirpelHostValue, host);
}

struct ZirpelHttpTest : ::testing::Test {
    TestProfile profile;
    HttpTestServer server;
    TZirpelSendClass sender;
    TZirpelSettings settings;
    TProxySettings noProxy;

    void SetUp() override
    {
        ASSERT_TRUE(server.listenLoopback());
        setGatewayHost(QStringLiteral("127.0.0.1:%1").arg(server.serverPort()));
        settings.Username = QStringLiteral("kunde");
        settings.Password = QStringLiteral("geheim&1");
        sender.RetryDelayMs = 50;
    }
    bool send(QString &reply)
    {
        return sender.SendShortMessage(settings, QStringLiteral("Müller: Treffen 10:30?"),
                                       QStringLiteral("00491711234567"), noProxy, reply);
    }
    QByteArray requestLine(int type) const
    {
        return "GET /client/sendsms.php" + QByteArray(kQuery).replace("%1", QByteArray::number(type)) + " HTTP/1.1";
    }
};

TEST_F(ZirpelHttpTest, RequestCarriesTheSettingsAndTheEncodedText)
{
    for (const bool withSender : {false, true}) {
        SCOPED_TRACE(withSender ? "V2" : "V1");
        server.requests.clear();
        server.script = {HttpTestServer::reply(200, "OK", "OK 4711\r\nGuthaben: 3\r\n")};
        settings.WithSenderAddress = withSender;
        QString reply;
        EXPECT_TRUE(send(reply));
        EXPECT_EQ(reply, QStringLiteral("OK 4711\nGuthaben: 3"));
        ASSERT_EQ(server.requests.size(), 1);
        EXPECT_EQ(server.requests[0].requestLine, requestLine(withSender ? 2 : 1));
        EXPECT_EQ(server.requests[0].header("Host"), QStringLiteral("127.0.0.1:%1").arg(server.serverPort()).toLatin1());
    }
}

TEST_F(ZirpelHttpTest, FailedFirstAttemptIsRetriedOnce)
{
    server.script = {HttpTestServer::reply(503, "Service Unavailable"), HttpTestServer::reply(200, "OK", "OK")};
    QString reply;
    EXPECT_TRUE(send(reply));
    EXPECT_EQ(reply, QStringLiteral("OK"));
    ASSERT_EQ(server.requests.size(), 2);
    EXPECT_EQ(server.requests[1].requestLine, server.requests[0].requestLine);
}

TEST_F(ZirpelHttpTest, FailuresEndInAnErrorReplyAfterTwoAttempts)
{
    const struct {
        const char *name;
        HttpTestServer::Response response;
        int timeoutMs;
        const char *replyStart;
        bool exactlyTwo; // the network layer itself sends a request again once after a dropped connection
    } cases[] = {
        {"server error", HttpTestServer::reply(500, "Internal Server Error"), 30000,
         "ERROR HTTP 500 Internal Server Error", true},
        {"redirect is not followed", HttpTestServer::reply(302, "Found", {}, {"Location: http://127.0.0.1:1/"}), 30000,
         "ERROR HTTP 302 Found", true},
        {"dropped connection", HttpTestServer::drop(), 30000, "ERROR Connection closed", false},
        {"silent gateway", HttpTestServer::silent(), 300, "ERROR Zeitüberschreitung", true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        server.requests.clear();
        server.fallback = c.response;
        sender.AttemptTimeoutMs = c.timeoutMs;
        QString reply;
        EXPECT_FALSE(send(reply));
        EXPECT_TRUE(reply.startsWith(QString::fromUtf8(c.replyStart))) << reply.toStdString();
        EXPECT_GT(reply.size(), 6) << "a reason follows";
        EXPECT_FALSE(reply.contains(QStringLiteral("geheim"))) << "no password in the reason";
        if (c.exactlyTwo)
            EXPECT_EQ(server.requests.size(), 2);
        else
            EXPECT_GE(server.requests.size(), 2);
    }
}

TEST_F(ZirpelHttpTest, UnreachableGatewayFailsWithTheReason)
{
    setGatewayHost(QStringLiteral("127.0.0.1:%1").arg(closedLoopbackPort()));
    QString reply;
    EXPECT_FALSE(send(reply));
    EXPECT_EQ(reply, QStringLiteral("ERROR Connection refused"));
}

TEST_F(ZirpelHttpTest, GatewayHostComesFromTheConfiguration)
{
    setGatewayHost(QString());
    EXPECT_TRUE(TZirpelSendClass::GatewayHost().isEmpty());
    {
        QString reply;
        EXPECT_FALSE(send(reply));
        EXPECT_TRUE(reply.startsWith(QStringLiteral("ERROR Kein SMS-Gateway eingerichtet"))) << reply.toStdString();
    }
    setGatewayHost(QStringLiteral(" sms.example.test:8080 "));
    EXPECT_EQ(TZirpelSendClass::GatewayHost(), QStringLiteral("sms.example.test:8080"));

    // A host that would change the path or carry credentials is refused before anything is sent.
    for (const char *bad : {"127.0.0.1/evil?", "user@127.0.0.1", "127.0.0.1#x", "127.0.0.1 x"}) {
        setGatewayHost(QString::fromLatin1(bad));
        QString reply;
        EXPECT_FALSE(send(reply)) << bad;
        EXPECT_TRUE(reply.startsWith(QStringLiteral("ERROR "))) << bad;
    }
    EXPECT_EQ(server.connections, 0);
}

TEST_F(ZirpelHttpTest, ProxyIsUsedWithBasicAuthenticationWhenComplete)
{
    // The gateway itself is unreachable: only a request through the proxy can succeed.
    const QString gateway = QStringLiteral("127.0.0.1:%1").arg(closedLoopbackPort());
    setGatewayHost(gateway);
    TProxySettings proxy;
    proxy.ProxyServer = QStringLiteral("127.0.0.1");
    proxy.ProxyPort = server.serverPort();
    proxy.ProxyUsername = QStringLiteral("puser");
    proxy.ProxyPassword = QStringLiteral("ppass");
    server.script = {HttpTestServer::reply(407, "Proxy Authentication Required", {},
                                           {"Proxy-Authenticate: Basic realm=\"proxy\""}),
                     HttpTestServer::reply(200, "OK", "OK via proxy")};
    QString reply;
    EXPECT_TRUE(sender.SendShortMessage(settings, QStringLiteral("Müller: Treffen 10:30?"),
                                        QStringLiteral("00491711234567"), proxy, reply));
    EXPECT_EQ(reply, QStringLiteral("OK via proxy"));
    ASSERT_GE(server.requests.size(), 2);
    const auto &last = server.requests.last();
    EXPECT_EQ(last.requestLine,
              "GET http://" + gateway.toLatin1() + "/client/sendsms.php" + QByteArray(kQuery).replace("%1", "1") +
                  " HTTP/1.1");
    EXPECT_EQ(last.header("Proxy-Authorization"), "Basic " + QByteArray("puser:ppass").toBase64());
}

TEST_F(ZirpelHttpTest, ProxyWithoutCompleteCredentialsSendsNone)
{
    setGatewayHost(QStringLiteral("127.0.0.1:%1").arg(closedLoopbackPort()));
    TProxySettings proxy;
    proxy.ProxyServer = QStringLiteral("127.0.0.1");
    proxy.ProxyPort = server.serverPort();
    proxy.ProxyUsername = QStringLiteral("puser");
    server.fallback = HttpTestServer::reply(200, "OK", "OK");
    QString reply;
    EXPECT_TRUE(sender.SendShortMessage(settings, QStringLiteral("x"), QStringLiteral("0049"), proxy, reply));
    ASSERT_EQ(server.requests.size(), 1);
    EXPECT_TRUE(server.requests[0].requestLine.startsWith("GET http://127.0.0.1:"));
    EXPECT_FALSE(server.requests[0].hasHeader("Proxy-Authorization"));
}

// Certificates made for this test run: a test CA with a server certificate for 127.0.0.1 and one for
// another name, and a self-signed certificate for 127.0.0.1.
struct TestPki {
    QTemporaryDir dir;
    bool ok = false;
    QString file(const char *name) const { return dir.filePath(QString::fromLatin1(name)); }

    bool openssl(const QStringList &args)
    {
        QByteArray out, err;
        const int rc = runProcess(QStringLiteral("openssl"), args, &out, &err);
        if (rc != 0)
            ADD_FAILURE() << "openssl " << args.join(QLatin1Char(' ')).toStdString() << ": " << err.constData();
        return rc == 0;
    }
    bool issue(const char *name, const QString &subject, const QString &altName)
    {
        QFile ext(file("ext.cnf"));
        if (!ext.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return false;
        ext.write("basicConstraints=CA:FALSE\nkeyUsage=digitalSignature,keyEncipherment\n"
                  "extendedKeyUsage=serverAuth\nsubjectAltName=" + altName.toLatin1() + "\n");
        ext.close();
        const QString base = file(name);
        return openssl({"req", "-newkey", "rsa:2048", "-nodes", "-keyout", base + ".key", "-out", base + ".csr",
                        "-subj", subject}) &&
               openssl({"x509", "-req", "-in", base + ".csr", "-CA", file("ca.pem"), "-CAkey", file("ca.key"),
                        "-CAcreateserial", "-out", base + ".pem", "-days", "2", "-extfile", file("ext.cnf")});
    }
    TestPki()
    {
        ok = openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", file("ca.key"), "-out",
                      file("ca.pem"), "-days", "2", "-subj", "/CN=Quarvel Test CA", "-addext",
                      "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"}) &&
             issue("server", QStringLiteral("/CN=127.0.0.1"), QStringLiteral("IP:127.0.0.1")) &&
             issue("othername", QStringLiteral("/CN=elsewhere.test"), QStringLiteral("DNS:elsewhere.test")) &&
             openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", file("self.key"), "-out",
                      file("self.pem"), "-days", "2", "-subj", "/CN=127.0.0.1", "-addext",
                      "subjectAltName=IP:127.0.0.1"});
    }
};

struct ZirpelHttpsTest : ZirpelHttpTest {
    static inline TestPki *pki = nullptr;
    static void SetUpTestSuite() { pki = new TestPki; }
    static void TearDownTestSuite()
    {
        delete pki;
        pki = nullptr;
    }
    void TearDown() override { qunsetenv(kTestCaFileEnv); }
};

TEST_F(ZirpelHttpsTest, CertificateMustVerify)
{
    ASSERT_TRUE(pki && pki->ok);
    const struct {
        const char *name;
        const char *cert; // server certificate and key, without extension
        const char *trusted; // extra CA file, or nullptr
        bool accepted;
        const char *reason; // part of the error text when refused
    } cases[] = {
        {"self-signed", "self", nullptr, false, "SSL handshake failed"},
        {"self-signed, trusted for the test", "self", "self.pem", true, ""},
        {"issued by an unknown CA", "server", nullptr, false, "SSL handshake failed"},
        {"issued by the trusted test CA", "server", "ca.pem", true, ""},
        {"trusted CA, other host name", "othername", "ca.pem", false, "host name"},
    };
    settings.HTTPS = true;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        HttpTestServer tls;
        ASSERT_TRUE(tls.listenLoopback());
        const QString base = pki->file(c.cert);
        ASSERT_TRUE(tls.useTls(base + QStringLiteral(".pem"), base + QStringLiteral(".key")));
        tls.fallback = HttpTestServer::reply(200, "OK", "OK secure");
        setGatewayHost(QStringLiteral("127.0.0.1:%1").arg(tls.serverPort()));
        if (c.trusted)
            qputenv(kTestCaFileEnv, pki->file(c.trusted).toLocal8Bit());
        else
            qunsetenv(kTestCaFileEnv);
        QString reply;
        EXPECT_EQ(send(reply), c.accepted) << reply.toStdString();
        if (c.accepted) {
            EXPECT_EQ(reply, QStringLiteral("OK secure"));
            ASSERT_EQ(tls.requests.size(), 1);
            EXPECT_TRUE(tls.requests[0].encrypted);
            EXPECT_EQ(tls.requests[0].requestLine, requestLine(1));
        } else {
            EXPECT_TRUE(reply.startsWith(QStringLiteral("ERROR "))) << reply.toStdString();
            EXPECT_TRUE(reply.contains(QString::fromLatin1(c.reason), Qt::CaseInsensitive)) << reply.toStdString();
            EXPECT_TRUE(tls.requests.isEmpty()) << "nothing is sent over an unverified connection";
        }
    }
}

} // namespace
