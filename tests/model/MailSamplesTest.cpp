// Real-world messages from Debian packages (spamassassin's examples, Python's e-mail test data): odd
// encodings, nested multiparts, broken headers. scripts/install-deps.sh installs both packages.
#include "MailMessage.h"
#include "MailTestUtil.h"
#include "SampleMails.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

namespace {

QByteArray readSample(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        ADD_FAILURE() << "missing sample " << path.toStdString()
                      << " (install spamassassin and libpython3.11-testsuite: scripts/install-deps.sh)";
        return QByteArray();
    }
    return f.readAll();
}

MailMessage parsed(const QString &path, bool noDecode = false)
{
    MailMessage m;
    m.NoDecode = noDecode;
    EXPECT_TRUE(m.FillFromRaw(readSample(path))) << path.toStdString();
    return m;
}

QString python(const char *name)
{
    return QString(kPythonData) + '/' + name;
}

TEST(MailSamples, AreInstalled)
{
    // Fails loudly instead of passing on a machine without the packages.
    const QStringList files = SampleMailFiles();
    ASSERT_GE(files.size(), 45) << "expected Python's msg_*.txt in " << kPythonData;
    for (const QString &path : files)
        EXPECT_TRUE(QFile::exists(path)) << path.toStdString();
}

TEST(MailSamples, EveryOneParsesWritesAndParsesAgain)
{
    for (const QString &path : SampleMailFiles()) {
        SCOPED_TRACE(path.toStdString());
        const QByteArray raw = readSample(path);
        ASSERT_FALSE(raw.isEmpty());
        MailMessage m;
        if (!m.FillFromRaw(raw)) {
            // Only a text without any header line is refused.
            EXPECT_TRUE(path.endsWith("msg_19.txt"));
            continue;
        }
        const QByteArray written = m.WriteRaw();
        EXPECT_TRUE(onlyCrlf(written));
        MailMessage again;
        ASSERT_TRUE(again.FillFromRaw(written));
        EXPECT_EQ(again.Headers, m.Headers);
        EXPECT_EQ(again.Body, m.Body);
        EXPECT_EQ(again.Parts, m.Parts);

        // A new subject composes a new header but keeps the body as received.
        m.Subject = "Geändert";
        MailMessage changed;
        ASSERT_TRUE(changed.FillFromRaw(m.WriteRaw()));
        EXPECT_EQ(changed.Subject, "Geändert");
        EXPECT_EQ(changed.From, m.From);
        EXPECT_EQ(changed.Body, m.Body);
        EXPECT_EQ(changed.Parts, m.Parts);

        MailMessage header;
        EXPECT_TRUE(header.FillFromHeader(raw));
        EXPECT_EQ(header.Headers, m.Headers);
        EXPECT_FALSE(header.HasText());
    }
}

TEST(MailSamples, Gtube)
{
    const MailMessage m = parsed(QString(kSpamExamples) + "/sample-spam.txt");
    EXPECT_EQ(m.Subject, "Test spam mail (GTUBE)");
    EXPECT_EQ(m.MsgId, "<GTUBE1.1010101@example.net>");
    EXPECT_EQ(m.From, (TMailAddress{"Sender", "sender@example.net"}));
    EXPECT_EQ(m.Recipients, QList<TMailAddress>({{"Recipient", "recipient@example.net"}}));
    EXPECT_EQ(m.Date.toUTC(), QDateTime(QDate(2003, 7, 23), QTime(21, 30), Qt::UTC));
    EXPECT_EQ(m.ContentType, "text/plain; charset=us-ascii");
    EXPECT_TRUE(m.Body.contains("XJS*C4JDBQADN1.NSBN3*2IDNEN*GTUBE-STANDARD-ANTI-UBE-TEST-EMAIL*C.34X"));
    EXPECT_EQ(m.Body.first(), "This is the GTUBE, the");
    EXPECT_EQ(m.Body.at(1), "\tGeneric") << "body lines keep their tabs";
}

TEST(MailSamples, NonSpamWithManyReceivedLines)
{
    const MailMessage m = parsed(QString(kSpamExamples) + "/sample-nonspam.txt");
    EXPECT_EQ(m.From, (TMailAddress{"Keith Dawson", "dawson@world.std.com"}));
    EXPECT_EQ(m.MsgId, "<v0421010eb70653b14e06@[208.192.102.193]>");
    const QStringList received = m.HeaderValues("Received");
    ASSERT_EQ(received.size(), 8);
    EXPECT_EQ(received.first(), "from europe.std.com (europe.std.com [199.172.62.20]) by mail.netnoteinc.com "
                                "(Postfix) with ESMTP id 392E1114061 for <foo@foo.com>; Fri, 20 Apr 2001 "
                                "21:34:46 +0000 (Eire)");
    // The Content-Type line stands between Subject and Sender, as in the file.
    const qsizetype subject = m.Headers.indexOf("Subject: TBTF ping for 2001-04-20: Reviving");
    ASSERT_GE(subject, 0);
    EXPECT_EQ(m.Headers.at(subject + 1), "Content-Type: text/plain; charset=\"us-ascii\"");
    EXPECT_EQ(m.Headers.at(subject + 2), "Sender: tbtf-approval@world.std.com");
}

TEST(MailSamples, TransferEncodingsAndCharsetsOfParts)
{
    const MailMessage m = parsed(python("msg_10.txt"));
    ASSERT_EQ(m.Parts.size(), 5);
    EXPECT_EQ(m.Parts[0].Body, QStringList({"This is a 7bit encoded message."}));
    EXPECT_EQ(m.Parts[1].ContentType, "text/html; charset=iso-8859-1");
    EXPECT_EQ(m.Parts[1].Body, QStringList({"¡This is a Quoted Printable encoded message!"}));
    EXPECT_EQ(m.Parts[2].Body, QStringList({"This is a Base64 encoded message."}));
    EXPECT_EQ(m.Parts[3].Body, QStringList({"This is a Base64 encoded message."}));
    EXPECT_EQ(m.Parts[4].Body, QStringList({"This has no Content-Transfer-Encoding: header."}));

    const MailMessage raw = parsed(python("msg_10.txt"), true);
    ASSERT_EQ(raw.Parts.size(), 5);
    EXPECT_EQ(raw.Parts[1].Body, QStringList({"=A1This is a Quoted Printable encoded message!"}));
    EXPECT_EQ(raw.Parts[2].Body, QStringList({"VGhpcyBpcyBhIEJhc2U2NCBlbmNvZGVkIG1lc3NhZ2Uu", ""}));
}

TEST(MailSamples, NestedMultipartsFlattenInDocumentOrder)
{
    const MailMessage m = parsed(python("msg_12.txt"));
    QStringList types;
    for (const TMailPart &p : m.Parts) {
        EXPECT_TRUE(p.IsText);
        types.append(p.ContentType);
    }
    EXPECT_EQ(types, QStringList({"text/plain; charset=us-ascii", "text/html; charset=iso-8859-1",
                                  "text/plain; charset=iso-8859-2", "text/plain; charset=iso-8859-3",
                                  "text/plain; charset=us-ascii", "text/plain; charset=koi8-r"}));
}

TEST(MailSamples, AttachmentWithFileName)
{
    const MailMessage m = parsed(python("msg_26.txt"));
    EXPECT_EQ(m.MsgId, "<6df65d354b.father.time@rpc.wooster.local>");
    EXPECT_EQ(m.HeaderValue("received"), "from xcar [192.168.0.2] by jeeves.wooster.local (SMTPD32-7.07 EVAL) "
                                         "id AFF92F0214; Sun, 12 May 2002 08:55:37 +0100");
    ASSERT_EQ(m.Parts.size(), 2);
    EXPECT_TRUE(m.Parts[0].IsText);
    EXPECT_EQ(m.Parts[0].Body.first(), "Simple email with attachment.");
    EXPECT_FALSE(m.Parts[1].IsText);
    EXPECT_EQ(m.Parts[1].FileName, "clock.bmp");
    EXPECT_TRUE(m.Parts[1].Body.isEmpty());
}

TEST(MailSamples, MultipartWithoutBoundaryShowsItsText)
{
    const MailMessage m = parsed(python("msg_41.txt"));
    EXPECT_EQ(m.Subject, "64423");
    EXPECT_TRUE(m.ContentType.startsWith("multipart/alternative"));
    EXPECT_EQ(m.Body, QStringList({"Blah blah blah"}));
}

TEST(MailSamples, MboxLineAndTwoToFields)
{
    const MailMessage m = parsed(python("msg_25.txt"));
    EXPECT_TRUE(m.Subject.startsWith("Returned mail: Too many hops 19 (17 max)"));
    EXPECT_EQ(m.From, (TMailAddress{"Mail Delivery Subsystem", "MAILER-DAEMON@zinfandel.lacita.com"}));
    ASSERT_EQ(m.Recipients.size(), 2);
    EXPECT_EQ(m.Recipients[1].Address, "postmaster@zinfandel.lacita.com");
    EXPECT_EQ(m.Date.toUTC(), QDateTime(QDate(2001, 4, 6), QTime(17, 23, 6), Qt::UTC));
}

TEST(MailSamples, SignedMessageHasSignatureAsAttachment)
{
    const MailMessage m = parsed(python("msg_45.txt"));
    ASSERT_EQ(m.Parts.size(), 2);
    EXPECT_EQ(m.Parts[0].Body, QStringList({"This is the signed contents."}));
    EXPECT_EQ(m.Parts[1].FileName, "signature.asc");
    EXPECT_EQ(m.HeaderValue("X-Long-Line"), "Some really long line contains a lot of text and thus has to be "
                                            "rewrapped because it is some really long line");
}

TEST(MailSamples, TextWithoutHeaderIsRefused)
{
    MailMessage m;
    EXPECT_FALSE(m.FillFromRaw(readSample(python("msg_19.txt"))));
    EXPECT_FALSE(m.FillFromHeader(readSample(python("msg_19.txt"))));
}

} // namespace
