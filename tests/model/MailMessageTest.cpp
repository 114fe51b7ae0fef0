#include "MailMessage.h"
#include "MailTestUtil.h"

#include <gtest/gtest.h>

#include <QTimeZone>

#include <atomic>
#include <thread>
#include <vector>

namespace {

// ---- Header blocks --------------------------------------------------------------------------------

struct HeaderCase {
    const char *name;
    QByteArray block;
    QString subject;
    QString fromName;
    QString fromAddress;
    QStringList to; // addresses
    QString msgId;
};

void PrintTo(const HeaderCase &c, std::ostream *os)
{
    *os << c.name;
}

class HeaderBlock : public testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderBlock, FieldsAreReadAndDecoded)
{
    const HeaderCase &c = GetParam();
    MailMessage m;
    ASSERT_TRUE(m.FillFromHeader(c.block));
    EXPECT_EQ(m.Subject, c.subject);
    EXPECT_EQ(m.From.Name, c.fromName);
    EXPECT_EQ(m.From.Address, c.fromAddress);
    QStringList to;
    for (const TMailAddress &a : m.Recipients)
        to.append(a.Address);
    EXPECT_EQ(to, c.to);
    EXPECT_EQ(m.MsgId, c.msgId);
    EXPECT_FALSE(m.HasText()) << "a header block carries no text";
}

INSTANTIATE_TEST_SUITE_P(
    MailMessage, HeaderBlock,
    testing::Values(
        HeaderCase{"crlf_with_empty_line",
                   crlf("From: Anna Alt <anna@example.org>\nTo: bob@example.net\nSubject: Hello\n"
                        "Message-ID: <abc.123@example.org>\n\n"),
                   "Hello", "Anna Alt", "anna@example.org", {"bob@example.net"}, "<abc.123@example.org>"},
        HeaderCase{"lf_without_empty_line_or_final_newline",
                   "From: anna@example.org\nSubject: Hello",
                   "Hello", "", "anna@example.org", {}, ""},
        HeaderCase{"body_lines_after_header_are_ignored",
                   crlf("Subject: Top\n\nFrom: not-a-header@example.org\nbody\n"),
                   "Top", "", "", {}, ""},
        HeaderCase{"q_encoded_latin1_subject",
                   crlf("Subject: =?iso-8859-1?q?Gr=FC=DFe_aus_K=F6ln?=\n"),
                   "Grüße aus Köln", "", "", {}, ""},
        HeaderCase{"two_b_encoded_words_join_without_blank",
                   crlf("Subject: =?utf-8?b?w5xiZXI=?= =?utf-8?b?bcOkw59pZw==?=\n"),
                   "Übermäßig", "", "", {}, ""},
        HeaderCase{"padded_b_words_lose_nothing",
                   crlf("From: =?UTF-8?B?U3NzxZsgTGHFgmFsYQ==?= =?UTF-8?B?bGFsYQ==?= <s@example.pl>\n"
                        "Subject: =?UTF-8?B?SGVsbG8=?= =?UTF-8?B?IHdvcmxk?=\n"),
                   "Hello world", "Sssś Lałalalala", "s@example.pl", {}, ""},
        HeaderCase{"character_split_across_b_words",
                   crlf("Subject: =?utf-8?b?S8M=?= =?utf-8?b?pHNl?=\n"),
                   "Käse", "", "", {}, ""},
        HeaderCase{"encoded_word_for_rolex",
                   crlf("Subject: Cheap =?us-ascii?q?Rolex?= watches\n"),
                   "Cheap Rolex watches", "", "", {}, ""},
        HeaderCase{"raw_utf8_subject",
                   crlf("Subject: Gr\xc3\xbc\xc3\x9f" "e\n"),
                   "Grüße", "", "", {}, ""},
        HeaderCase{"raw_windows1252_subject",
                   crlf("Subject: F\xfcr 5 \x80\n"),
                   "Für 5 €", "", "", {}, ""},
        HeaderCase{"folded_subject_becomes_one_line",
                   crlf("Subject: first half\n\tsecond half\n"),
                   "first half second half", "", "", {}, ""},
        HeaderCase{"encoded_display_name_and_quoted_comma",
                   crlf("From: =?utf-8?q?J=C3=BCrgen_M=C3=BCller?= <jm@example.de>\n"
                        "To: \"Doe, John\" <jd@example.com>, plain@example.com\n"),
                   "", "Jürgen Müller", "jm@example.de", {"jd@example.com", "plain@example.com"}, ""},
        HeaderCase{"first_of_several_from_addresses",
                   crlf("From: one@example.org, Two <two@example.org>\n"),
                   "", "", "one@example.org", {}, ""},
        HeaderCase{"group_members_are_recipients",
                   crlf("To: Team: a@example.org, b@example.org;\n"),
                   "", "", "", {"a@example.org", "b@example.org"}, ""},
        HeaderCase{"several_to_fields_all_count",
                   crlf("To: a@example.org\nTo: b@example.org\n"),
                   "", "", "", {"a@example.org", "b@example.org"}, ""},
        HeaderCase{"field_names_in_any_case_and_id_trimmed",
                   crlf("SUBJECT: upper\nmessage-id:    <x@y>   \n"),
                   "upper", "", "", {}, "<x@y>"},
        HeaderCase{"mbox_from_line_before_the_header",
                   "From MAILER-DAEMON Fri Apr 06 16:46:09 2001\nSubject: after\n\n",
                   "after", "", "", {}, ""}),
    [](const testing::TestParamInfo<HeaderCase> &info) { return std::string(info.param.name); });

TEST(MailMessage, HeaderLinesKeepOrderUnfoldedWithContentFieldsInPlace)
{
    MailMessage m;
    ASSERT_TRUE(m.FillFromRaw(crlf("Received: from a.example\n\tby b.example; Mon, 1 Jan 2024 10:00:00 +0000\n"
                                   "Content-Type: text/plain;\n charset=utf-8\n"
                                   "Subject: =?utf-8?q?caf=C3=A9?=\n"
                                   "this line has no colon\n"
                                   "Received: from c.example by d.example\n"
                                   "X-Empty:\n"
                                   "\n"
                                   "body\n")));
    const QStringList expected = {
        "Received: from a.example by b.example; Mon, 1 Jan 2024 10:00:00 +0000",
        "Content-Type: text/plain; charset=utf-8",
        "Subject: =?utf-8?q?caf=C3=A9?=", // as received: not decoded
        "Received: from c.example by d.example",
        "X-Empty: ",
    };
    EXPECT_EQ(m.Headers, expected);
    EXPECT_EQ(m.HeaderText(), expected.join("\r\n") + "\r\n");
    EXPECT_EQ(m.HeaderValue("subject"), "café");
    EXPECT_EQ(m.HeaderValue("RECEIVED"), "from a.example by b.example; Mon, 1 Jan 2024 10:00:00 +0000");
    EXPECT_EQ(m.HeaderValues("Received"),
              QStringList({"from a.example by b.example; Mon, 1 Jan 2024 10:00:00 +0000",
                           "from c.example by d.example"}));
    EXPECT_EQ(m.HeaderValue("X-Missing"), QString());
    EXPECT_TRUE(m.HeaderValues("X-Missing").isEmpty());
    EXPECT_EQ(m.HeaderValue("X-Empty"), QString());
}

TEST(MailMessage, HeaderValueFollowsEditedHeaderLines)
{
    MailMessage m;
    ASSERT_TRUE(m.FillFromHeader("Subject: old\n"));
    m.Headers.append("X-Spam-Flag: =?utf-8?q?J=C3=A4?=");
    EXPECT_EQ(m.HeaderValue("x-spam-flag"), "Jä");
}

struct DateCase {
    const char *name;
    QByteArray header;
    qint64 utcSecs; // -1: invalid
};

void PrintTo(const DateCase &c, std::ostream *os)
{
    *os << c.name;
}

class DateHeader : public testing::TestWithParam<DateCase> {};

TEST_P(DateHeader, GivesLocalTimeOrInvalid)
{
    MailMessage m;
    ASSERT_TRUE(m.FillFromHeader("Subject: x\n" + GetParam().header));
    if (GetParam().utcSecs < 0) {
        EXPECT_FALSE(m.Date.isValid()) << m.Date.toString(Qt::ISODate).toStdString();
        return;
    }
    ASSERT_TRUE(m.Date.isValid());
    EXPECT_EQ(m.Date.timeSpec(), Qt::LocalTime);
    EXPECT_EQ(m.Date.toSecsSinceEpoch(), GetParam().utcSecs);
}

INSTANTIATE_TEST_SUITE_P(
    MailMessage, DateHeader,
    testing::Values(DateCase{"rfc2822_with_offset", "Date: Wed, 23 Jul 2003 23:30:00 +0200\n", 1058995800},
                    DateCase{"without_weekday_zone_name", "Date: 6 Apr 2001 09:23:06 PST\n", 986577786},
                    DateCase{"unreadable", "Date: sometime next week\n", -1},
                    DateCase{"empty", "Date:\n", -1},
                    DateCase{"absent", "", -1}),
    [](const testing::TestParamInfo<DateCase> &info) { return std::string(info.param.name); });

TEST(MailMessage, UnreadableHeaderBlocksGiveFalseAndNoFields)
{
    const QByteArray cases[] = {
        "", "\r\n", "\r\n\r\nSubject: after the empty line\r\n", "no header here at all\r\n",
        QByteArray("\x00\x01\x02\xff\xfe", 5),
    };
    for (const QByteArray &block : cases) {
        MailMessage m;
        m.UID = "kept";
        EXPECT_FALSE(m.FillFromHeader(block)) << block.toStdString();
        EXPECT_TRUE(m.Headers.isEmpty());
        EXPECT_TRUE(m.Subject.isEmpty());
        EXPECT_EQ(m.UID, "kept");
    }
}

// ---- Bodies ---------------------------------------------------------------------------------------

struct BodyCase {
    const char *name;
    QByteArray message; // LF line ends, turned into CR LF
    bool noDecode;
    QStringList body;
};

void PrintTo(const BodyCase &c, std::ostream *os)
{
    *os << c.name;
}

class SinglePartBody : public testing::TestWithParam<BodyCase> {};

TEST_P(SinglePartBody, LinesAreDecoded)
{
    MailMessage m;
    m.NoDecode = GetParam().noDecode;
    ASSERT_TRUE(m.FillFromRaw(crlf(GetParam().message)));
    EXPECT_EQ(m.Body, GetParam().body);
    EXPECT_TRUE(m.Parts.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    MailMessage, SinglePartBody,
    testing::Values(
        BodyCase{"plain_7bit", "Subject: a\n\nline one\n\nline three\n", false, {"line one", "", "line three"}},
        BodyCase{"no_final_newline", "Subject: a\n\nonly", false, {"only"}},
        BodyCase{"quoted_printable_latin1",
                 "Content-Type: text/plain; charset=iso-8859-1\nContent-Transfer-Encoding: quoted-printable\n\n"
                 "Gr=FC=DF Gott, soft=\nbreak\n",
                 false, {"Grüß Gott, softbreak"}},
        BodyCase{"base64_utf8",
                 "Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: base64\n\n"
                 "w4RwZmVsCkLDpHVtZQo=\n",
                 false, {"Äpfel", "Bäume"}},
        BodyCase{"base64_kept_with_no_decode",
                 "Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: base64\n\n"
                 "w4RwZmVsCkLDpHVtZQo=\n",
                 true, {"w4RwZmVsCkLDpHVtZQo="}},
        BodyCase{"8bit_without_charset_windows1252", "Subject: a\n\nK\xe4se f\xfcr 3 \x80\n", false,
                 {"Käse für 3 €"}},
        BodyCase{"8bit_without_charset_utf8", "Subject: a\n\nK\xc3\xa4se\n", false, {"Käse"}},
        BodyCase{"latin1_label_read_as_windows1252",
                 "Content-Type: text/plain; charset=ISO-8859-1\n\n\x80 \x84quoted\x93\n", false,
                 {"€ „quoted“"}},
        BodyCase{"koi8r_converted", "Content-Type: text/plain; charset=koi8-r\n\n\xf0\xd2\xc9\xd7\xc5\xd4\n",
                 false, {"Привет"}},
        BodyCase{"unknown_charset_falls_back_to_8bit_rule",
                 "Content-Type: text/plain; charset=x-no-such-charset\n\nK\xc3\xa4se\n", false, {"Käse"}},
        BodyCase{"html_single_part", "Content-Type: text/html\n\n<p>Hi</p>\n", false, {"<p>Hi</p>"}},
        BodyCase{"empty_body", "Subject: a\n\n", false, {}}),
    [](const testing::TestParamInfo<BodyCase> &info) { return std::string(info.param.name); });

const QByteArray kNested = crlf(
    "From: Anna <anna@example.org>\n"
    "Subject: nested\n"
    "MIME-Version: 1.0\n"
    "Content-Type: multipart/mixed; boundary=\"outer\"\n"
    "\n"
    "preamble\n"
    "--outer\n"
    "Content-Type: multipart/alternative; boundary=\"inner\"\n"
    "\n"
    "--inner\n"
    "Content-Type: text/plain; charset=utf-8\n"
    "Content-Transfer-Encoding: quoted-printable\n"
    "\n"
    "Sch=C3=B6n\n"
    "--inner\n"
    "Content-Type: text/html; charset=utf-8\n"
    "\n"
    "<b>Sch\xc3\xb6n</b>\n"
    "--inner--\n"
    "--outer\n"
    "Content-Type: application/pdf; name=\"ignored.pdf\"\n"
    "Content-Disposition: attachment; filename=\"Rechnung M\xc3\xa4rz.pdf\"\n"
    "Content-Transfer-Encoding: base64\n"
    "\n"
    "JVBERi0xLjQK\n"
    "--outer\n"
    "Content-Type: text/plain; charset=us-ascii\n"
    "\n"
    "last\n"
    "--outer--\n");

TEST(MailMessage, MultipartIsFlattenedInOrder)
{
    MailMessage m;
    ASSERT_TRUE(m.FillFromRaw(kNested));
    EXPECT_EQ(m.ContentType, "multipart/mixed; boundary=outer");
    EXPECT_TRUE(m.Body.isEmpty());
    ASSERT_EQ(m.Parts.size(), 4);

    EXPECT_TRUE(m.Parts[0].IsText);
    EXPECT_EQ(m.Parts[0].ContentType, "text/plain; charset=utf-8");
    EXPECT_EQ(m.Parts[0].Headers, QStringList({"Content-Type: text/plain; charset=utf-8",
                                               "Content-Transfer-Encoding: quoted-printable"}));
    EXPECT_EQ(m.Parts[0].Body, QStringList({"Schön"}));

    EXPECT_TRUE(m.Parts[1].IsText);
    EXPECT_EQ(m.Parts[1].ContentType, "text/html; charset=utf-8");
    EXPECT_EQ(m.Parts[1].Body, QStringList({"<b>Schön</b>"}));

    EXPECT_FALSE(m.Parts[2].IsText);
    EXPECT_EQ(m.Parts[2].FileName, "Rechnung März.pdf");
    EXPECT_TRUE(m.Parts[2].Body.isEmpty());
    EXPECT_EQ(m.Parts[2].ContentType, "application/pdf; name=ignored.pdf");

    EXPECT_TRUE(m.Parts[3].IsText);
    EXPECT_EQ(m.Parts[3].Body, QStringList({"last"}));
    EXPECT_TRUE(m.HasText());
}

TEST(MailMessage, NoDecodeKeepsPartBodiesAsTransmitted)
{
    MailMessage m;
    m.NoDecode = true;
    ASSERT_TRUE(m.FillFromRaw(kNested));
    ASSERT_EQ(m.Parts.size(), 4);
    EXPECT_EQ(m.Parts[0].Body, QStringList({"Sch=C3=B6n"}));
}

TEST(MailMessage, SingleAttachmentMessageIsOnePart)
{
    MailMessage m;
    ASSERT_TRUE(m.FillFromRaw(crlf("Subject: scan\nContent-Type: image/png\nContent-Disposition: attachment; "
                                   "filename=scan.png\nContent-Transfer-Encoding: base64\n\niVBORw0KGgo=\n")));
    EXPECT_TRUE(m.Body.isEmpty());
    ASSERT_EQ(m.Parts.size(), 1);
    EXPECT_FALSE(m.Parts[0].IsText);
    EXPECT_EQ(m.Parts[0].FileName, "scan.png");
    EXPECT_EQ(m.ContentType, "image/png");
    EXPECT_TRUE(m.HasText()) << "fetched content, so no second fetch";
}

// ---- Writing ---------------------------------------------------------------------------------------

TEST(MailMessage, UnchangedMessageIsWrittenAsReceivedWithCrlf)
{
    const QByteArray lf = "From: a@example.org\nSubject: x\nContent-Transfer-Encoding: base64\n\n"
                          "SGVsbG8=\n\nend\n";
    for (bool noDecode : {false, true}) {
        MailMessage m;
        m.NoDecode = noDecode;
        ASSERT_TRUE(m.FillFromRaw(lf));
        EXPECT_EQ(m.WriteRaw(), crlf(lf)) << "NoDecode " << noDecode;
    }
}

TEST(MailMessage, HeaderOnlyMessageIsWrittenWithEmptyLine)
{
    MailMessage m;
    ASSERT_TRUE(m.FillFromHeader("Subject: x\nFrom: a@example.org"));
    EXPECT_EQ(m.WriteRaw(), QByteArray("Subject: x\r\nFrom: a@example.org\r\n\r\n"));
}

TEST(MailMessage, RawRoundTripThroughNoDecodeGivesTheSameMessage)
{
    // A fetch reads the message without decoding, writes it out and parses that text again.
    MailMessage transport;
    transport.NoDecode = true;
    ASSERT_TRUE(transport.FillFromRaw(kNested));
    MailMessage again;
    ASSERT_TRUE(again.FillFromRaw(transport.WriteRaw()));
    MailMessage direct;
    ASSERT_TRUE(direct.FillFromRaw(kNested));
    EXPECT_EQ(again.Headers, direct.Headers);
    EXPECT_EQ(again.Parts, direct.Parts);
    EXPECT_EQ(again.Subject, direct.Subject);
}

TEST(MailMessage, MessageBuiltFromFieldsIsComposed)
{
    MailMessage m;
    m.Clear();
    m.From.Address = "me@example.org";
    m.Recipients.append(TMailAddress{QString(), "you@example.net"});
    m.Cc.append(TMailAddress{"Jörg Über", "joerg@example.net"});
    m.Subject = "Re: Grüße – 5 €";
    m.Body = {"> quoted äöü", "", "**** signature"};

    const QByteArray raw = m.WriteRaw();
    EXPECT_TRUE(onlyCrlf(raw)) << raw.toStdString();
    for (const char c : raw)
        ASSERT_GE(static_cast<unsigned char>(c), 1) << "no NUL";
    for (const char c : raw)
        ASSERT_LT(static_cast<unsigned char>(c), 128) << "8-bit text is transfer-encoded: "
                                                      << raw.toStdString();

    MailMessage back;
    ASSERT_TRUE(back.FillFromRaw(raw));
    EXPECT_EQ(back.From, m.From);
    EXPECT_EQ(back.Recipients, m.Recipients);
    EXPECT_EQ(back.Cc, m.Cc);
    EXPECT_EQ(back.Subject, m.Subject);
    EXPECT_EQ(back.Body, m.Body);
    EXPECT_TRUE(back.Date.isValid());
    EXPECT_TRUE(back.MsgId.startsWith('<') && back.MsgId.endsWith("@example.org>")) << back.MsgId.toStdString();
    EXPECT_TRUE(back.ContentType.startsWith("text/plain")) << back.ContentType.toStdString();
}

TEST(MailMessage, ChangedHeaderKeepsBodyAndAttachmentsAsReceived)
{
    MailMessage m;
    ASSERT_TRUE(m.FillFromRaw(crlf("Received: from relay.example by mx.example\n"
                                   "Message-ID: <keep@example.org>\n"
                                   "Date: Wed, 23 Jul 2003 23:30:00 +0200\n")
                              + kNested));
    m.Subject = "Neuer Betreff";
    m.Recipients = {{"Ziel", "ziel@example.net"}};

    MailMessage back;
    ASSERT_TRUE(back.FillFromRaw(m.WriteRaw()));
    EXPECT_EQ(back.Subject, "Neuer Betreff");
    EXPECT_EQ(back.Recipients, m.Recipients);
    EXPECT_EQ(back.From, m.From);
    EXPECT_EQ(back.MsgId, "<keep@example.org>");
    EXPECT_EQ(back.Date, m.Date);
    EXPECT_EQ(back.HeaderValue("Received"), "from relay.example by mx.example");
    EXPECT_EQ(back.Headers.first(), "Received: from relay.example by mx.example") << "trace fields stay on top";
    EXPECT_EQ(back.Parts, m.Parts) << "attachment and text parts survive";
}

TEST(MailMessage, PassedOnHeaderLinesTravelAsReceived)
{
    // Lines GMime would reformat (and for a broken Received field never finish formatting) go out as
    // they came, on both composing paths.
    const QByteArray raw = crlf("Received: from [a (b\nX-Odd:  keep   blanks\nSubject: s\n\nbody\n");
    for (bool changeBody : {false, true}) {
        MailMessage m;
        ASSERT_TRUE(m.FillFromRaw(raw));
        m.Subject = "neu";
        if (changeBody)
            m.Body = {"anders"};
        const QByteArray written = m.WriteRaw();
        EXPECT_TRUE(written.contains("\r\nReceived: from [a (b\r\n") || written.startsWith("Received: from [a (b\r\n"))
            << written.toStdString();
        MailMessage back;
        ASSERT_TRUE(back.FillFromRaw(written));
        EXPECT_EQ(back.HeaderValue("X-Odd"), "keep   blanks");
        EXPECT_EQ(back.Subject, "neu");
        EXPECT_EQ(back.Body, changeBody ? QStringList{"anders"} : QStringList{"body"});
    }
}

TEST(MailMessage, LongTraceFieldIsFoldedAndReadsBackTheSame)
{
    const QByteArray received = "from relay.example.org (relay.example.org [192.0.2.1]) by mx.example.net "
                                "(Postfix) with ESMTPS id 4711ABCDEF for <bob@example.net>; "
                                "Wed, 23 Jul 2003 23:30:00 +0200";
    MailMessage m;
    ASSERT_TRUE(m.FillFromRaw("Received: " + received + "\r\nSubject: s\r\n\r\nbody\r\n"));
    m.Subject = "t";
    const QByteArray written = m.WriteRaw();
    for (const QByteArray &line : written.split('\n'))
        EXPECT_LE(line.size(), 79) << line.toStdString();
    MailMessage back;
    ASSERT_TRUE(back.FillFromRaw(written));
    EXPECT_EQ(back.HeaderValue("Received"), QString::fromLatin1(received));
    EXPECT_EQ(back.Subject, "t");
}

TEST(MailMessage, ChangedBodyIsWrittenFromTheFields)
{
    MailMessage m;
    ASSERT_TRUE(m.FillFromRaw(crlf("Subject: s\nContent-Transfer-Encoding: base64\n\nSGVsbG8=\n")));
    ASSERT_EQ(m.Body, QStringList({"Hello"}));
    m.Body = {"Servus", "Welt"};
    MailMessage back;
    ASSERT_TRUE(back.FillFromRaw(m.WriteRaw()));
    EXPECT_EQ(back.Body, m.Body);
    EXPECT_EQ(back.Subject, "s");
}

TEST(MailMessage, ClearEmptiesAllButNoDecodeAndFillKeepsUid)
{
    MailMessage m;
    m.NoDecode = true;
    m.UID = "42<x@y>";
    ASSERT_TRUE(m.FillFromRaw(kNested));
    EXPECT_EQ(m.UID, "42<x@y>");
    m.Clear();
    EXPECT_TRUE(m.NoDecode);
    EXPECT_TRUE(m.UID.isEmpty());
    EXPECT_TRUE(m.Headers.isEmpty());
    EXPECT_TRUE(m.Parts.isEmpty());
    EXPECT_TRUE(m.From.Address.isEmpty());
    EXPECT_TRUE(m.ContentType.isEmpty());
    EXPECT_TRUE(m.MsgId.isEmpty());
    EXPECT_FALSE(m.Date.isValid());
    // Nothing of the old raw text comes back.
    EXPECT_FALSE(m.WriteRaw().contains("outer"));
}

TEST(MailMessage, RefillReplacesEverything)
{
    MailMessage m;
    ASSERT_TRUE(m.FillFromRaw(kNested));
    ASSERT_TRUE(m.FillFromHeader("Subject: new\n"));
    EXPECT_TRUE(m.Parts.isEmpty());
    EXPECT_TRUE(m.From.Address.isEmpty());
    EXPECT_EQ(m.Headers, QStringList({"Subject: new"}));
    EXPECT_EQ(m.WriteRaw(), QByteArray("Subject: new\r\n\r\n"));
}

// ---- Hostile input ---------------------------------------------------------------------------------

QByteArray nestedMultiparts(int depth, bool sameBoundary)
{
    QByteArray out = "Content-Type: multipart/mixed; boundary=\"b0\"\r\n\r\n";
    for (int i = 1; i < depth; ++i) {
        const QByteArray parent = sameBoundary ? "b0" : "b" + QByteArray::number(i - 1);
        const QByteArray self = sameBoundary ? "b0" : "b" + QByteArray::number(i);
        out += "--" + parent + "\r\nContent-Type: multipart/mixed; boundary=\"" + self + "\"\r\n\r\n";
    }
    out += "--b" + QByteArray::number(sameBoundary ? 0 : depth - 1)
           + "\r\nContent-Type: text/plain\r\n\r\ndeep\r\n";
    return out; // never closed
}

QByteArray nestedMessages(int depth)
{
    QByteArray out;
    for (int i = 0; i < depth; ++i)
        out += "Subject: level " + QByteArray::number(i) + "\r\nContent-Type: message/rfc822\r\n\r\n";
    return out + "Subject: inner\r\n\r\ntext\r\n";
}

QByteArray pseudoRandom(int size, unsigned seed)
{
    QByteArray out(size, '\0');
    for (int i = 0; i < size; ++i) {
        seed = seed * 1103515245u + 12345u;
        out[i] = char(seed >> 16);
    }
    return out;
}

struct HostileCase {
    const char *name;
    QByteArray input;
};

void PrintTo(const HostileCase &c, std::ostream *os)
{
    *os << c.name;
}

class HostileInput : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileInput, NeverCrashesAndStaysConsistent)
{
    const QByteArray &input = GetParam().input;
    for (bool noDecode : {false, true}) {
        MailMessage raw;
        raw.NoDecode = noDecode;
        if (raw.FillFromRaw(input)) {
            EXPECT_FALSE(raw.Headers.isEmpty());
            const QByteArray written = raw.WriteRaw();
            EXPECT_TRUE(written.endsWith("\r\n") || written.isEmpty());
            MailMessage again;
            again.NoDecode = noDecode;
            EXPECT_TRUE(again.FillFromRaw(written));
            EXPECT_EQ(again.Headers, raw.Headers);
            (void)raw.HeaderText();
            (void)raw.HeaderValue("Subject");
            raw.Subject += "x"; // the composing path too
            (void)raw.WriteRaw();
        } else {
            EXPECT_TRUE(raw.Headers.isEmpty());
            EXPECT_FALSE(raw.HasText());
        }
        MailMessage header;
        if (header.FillFromHeader(input))
            (void)header.WriteRaw();
    }
}

INSTANTIATE_TEST_SUITE_P(
    MailMessage, HostileInput,
    testing::Values(
        HostileCase{"empty", QByteArray()},
        HostileCase{"only_line_ends", "\r\n\n\r\r\n"},
        HostileCase{"binary_garbage", pseudoRandom(64 * 1024, 7)},
        HostileCase{"garbage_after_a_header", "Subject: x\r\n" + pseudoRandom(16 * 1024, 11)},
        HostileCase{"nul_bytes_in_header_and_body",
                    QByteArray("Subject: a\0b\r\nFrom: \0<x@y>\r\n\r\nbo\0dy\r\n", 37)},
        HostileCase{"header_line_of_100_kb", "Subject: " + QByteArray(100 * 1024, 'A') + "\r\n\r\nbody\r\n"},
        HostileCase{"folded_line_of_100_kb",
                    "X-Long: " + QByteArray(20 * 1024, 'x').replace("xxxx", "xx\r\n\tx") + "\r\n\r\n"},
        HostileCase{"missing_colons", "no colon here\r\nnor here\r\nSubject: found\r\nneither\r\n\r\nbody\r\n"},
        HostileCase{"ten_thousand_headers", QByteArray("X-A: b\r\n").repeated(10000) + "\r\n"},
        HostileCase{"nested_multiparts_distinct_boundaries", nestedMultiparts(3000, false)},
        HostileCase{"nested_multiparts_same_boundary", nestedMultiparts(3000, true)},
        HostileCase{"nested_messages", nestedMessages(3000)},
        HostileCase{"broken_encoded_words",
                    "Subject: =?utf-8?q?unterminated =?x?b?!!!?= =?=?= =?utf-8?b?////?=\r\n"
                    "From: =?utf-8?q?=FF=FE?= <a@b>\r\n\r\n"},
        HostileCase{"broken_base64_and_qp",
                    "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                    "%%%%====AAAA====\xff\xfe\r\n"},
        HostileCase{"multipart_without_boundary", "Content-Type: multipart/mixed\r\n\r\n--x\r\ntext\r\n"},
        HostileCase{"endless_parameter_list",
                    "Content-Type: text/plain" + QByteArray("; a=\"b").repeated(5000) + "\r\n\r\nx\r\n"},
        HostileCase{"address_soup", "From: <<<@@@>>>,,,\"\"\"::;;\r\nTo: ;;;;,,,,<>\r\nCc: a@\r\n\r\n"},
        HostileCase{"date_nonsense", "Date: 99999999999999 Feb 2024 99:99:99 +9999\r\n\r\n"},
        HostileCase{"unclosed_received_fields", "Received: from [a (b\r\nReceived: by x (y [z\r\nSubject: s\r\n\r\nbody\r\n"},
        // Once made GMime's formatter of the field loop for ever when a changed message was written.
        HostileCase{"received_with_unterminated_literal_and_comment",
                    "Received: from [ (\r\nReceived: by [x ( \\)\r\nSubject: s\r\n\r\nbody\r\n"}),
    [](const testing::TestParamInfo<HostileCase> &info) { return std::string(info.param.name); });

// A NUL in a header field never ends its text: it is dropped and the rest stays, so that a spam rule on the
// rest still matches. A malformed encoded word does not cut off the text after it either.
struct NulCase {
    const char *name;
    QByteArray subject; // the raw field value
    QString decoded;
};

void PrintTo(const NulCase &c, std::ostream *os)
{
    *os << c.name;
}

class HeaderTextAfterNul : public testing::TestWithParam<NulCase> {};

TEST_P(HeaderTextAfterNul, IsKept)
{
    const NulCase &c = GetParam();
    const QByteArray header = "From: =?utf-16be?B?AEEAAABC?= <a@example.org>\r\nSubject: " + c.subject
                              + "\r\nX-After: kept\r\n";
    MailMessage fromTop, fromRetr;
    ASSERT_TRUE(fromTop.FillFromHeader(header + "\r\n"));
    ASSERT_TRUE(fromRetr.FillFromRaw(header + "\r\nbody\r\n"));
    for (const MailMessage *m : {&fromTop, &fromRetr}) {
        EXPECT_EQ(m->Subject, c.decoded);
        EXPECT_EQ(m->HeaderValue(QStringLiteral("Subject")), c.decoded);
        EXPECT_EQ(m->From.Name, QStringLiteral("AB"));
        EXPECT_EQ(m->HeaderValue(QStringLiteral("X-After")), QStringLiteral("kept"));
        EXPECT_FALSE(m->HeaderText().contains(QChar(0)));
    }
}

INSTANTIATE_TEST_SUITE_P(
    MailMessage, HeaderTextAfterNul,
    testing::Values(
        NulCase{"utf16_word_that_is_one_nul", "Cheap =?utf-16be?B?AAA=?= XYZ", "Cheap  XYZ"},
        NulCase{"utf16_nul_inside_a_word", "=?utf-16be?B?AEEAAABC?= XYZ", "AB XYZ"},
        NulCase{"utf16_without_bom_is_big_endian", "=?utf-16?B?AEEAQg==?= XYZ", "AB XYZ"},
        NulCase{"utf16_with_little_endian_bom", "=?utf-16?B?//5BAEIA?= XYZ", "AB XYZ"},
        NulCase{"utf16_split_across_words", "=?utf-16be?B?AA==?= =?utf-16be?B?QQBC?= XYZ", "AB XYZ"},
        NulCase{"utf32_nul", "=?utf-32be?B?AAAAAAAAAEE=?= XYZ", "A XYZ"},
        NulCase{"utf7_nul", "=?utf-7?Q?a+AAA-b?= XYZ", "ab XYZ"},
        NulCase{"latin1_q_nul", "Cheap =?iso-8859-1?q?R=00olex?= XYZ", "Cheap Rolex XYZ"},
        NulCase{"utf8_b_nul", "=?utf-8?B?YQBi?= XYZ", "ab XYZ"},
        NulCase{"raw_nul_byte", QByteArray("Cheap \0Rolex XYZ", 16), "Cheap Rolex XYZ"},
        NulCase{"base64_without_padding", "=?utf-8?B?SGVsbG8?= XYZ", "Hello XYZ"},
        NulCase{"bad_base64", "Cheap =?utf-8?B?!!!?= XYZ", "Cheap  XYZ"},
        NulCase{"unterminated_word", "Cheap =?utf-8?Q?abc XYZ", "Cheap =?utf-8?Q?abc XYZ"},
        NulCase{"unknown_charset", "=?x-bogus?Q?abc?= XYZ", "abc XYZ"},
        NulCase{"unknown_encoding", "=?utf-8?X?abc?= XYZ", "=?utf-8?X?abc?= XYZ"},
        NulCase{"broken_q_escape", "=?utf-8?Q?a=ZZb?= XYZ", "a=ZZb XYZ"},
        NulCase{"half_a_utf16_unit", "=?utf-16be?B?AEEA?= XYZ", "A XYZ"}),
    [](const testing::TestParamInfo<NulCase> &info) { return std::string(info.param.name); });

TEST(MailMessage, LongHeaderLineIsKeptWhole)
{
    MailMessage m;
    ASSERT_TRUE(m.FillFromHeader("Subject: " + QByteArray(100 * 1024, 'A') + "\r\n"));
    EXPECT_EQ(m.Subject, QString(100 * 1024, QLatin1Char('A')));
}

TEST(MailMessage, DeepNestingStillFindsTheText)
{
    MailMessage m;
    ASSERT_TRUE(m.FillFromRaw(nestedMultiparts(200, false)));
    ASSERT_FALSE(m.Parts.isEmpty());
    EXPECT_EQ(m.Parts.last().Body, QStringList({"deep"}));
}

TEST(MailMessage, ParsesOnSeveralThreadsAtOnce)
{
    // The worker thread and the main thread parse at the same time; GMime is set up once for both.
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&failures] {
            for (int i = 0; i < 50; ++i) {
                MailMessage m;
                if (!m.FillFromRaw(kNested) || m.Parts.size() != 4 || m.Parts[0].Body != QStringList({"Schön"})
                    || m.From.Name != "Anna")
                    ++failures;
                MailMessage h;
                if (!h.FillFromHeader("Subject: =?utf-8?q?=C3=9C?=\r\n") || h.Subject != "Ü")
                    ++failures;
            }
        });
    }
    for (std::thread &t : threads)
        t.join();
    EXPECT_EQ(failures.load(), 0);
}

} // namespace
