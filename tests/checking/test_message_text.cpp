// The readable text of a message: HTML made text, the plain text of each kind of message, the text of
// the message pane and the links in it, and hostile input that must neither crash nor take forever.
#include "MessageText.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QTextBlock>
#include <QTextDocument>

#include <memory>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

// QTextDocument lays out text with fonts, which wants a GUI application (offscreen in tests).
class GuiApplicationEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (!QCoreApplication::instance())
            m_app = std::make_unique<QGuiApplication>(m_argc, m_argv);
    }
    void TearDown() override { m_app.reset(); }

private:
    int m_argc = 1;
    char m_name[16] = "quarvel-test";
    char *m_argv[2] = {m_name, nullptr};
    std::unique_ptr<QGuiApplication> m_app;
};

[[maybe_unused]] ::testing::Environment *const environment =
    ::testing::AddGlobalTestEnvironment(new GuiApplicationEnvironment);

template <class Case>
std::string caseName(const testing::TestParamInfo<Case> &info)
{
    return info.param.name;
}

// ---- HtmlToText ------------------------------------------------------------------------------------

struct HtmlCase {
    const char *name;
    QString html;
    QString text;
};

void PrintTo(const HtmlCase &c, std::ostream *os)
{
    *os << c.name;
}

class HtmlToTextCase : public testing::TestWithParam<HtmlCase> {};

TEST_P(HtmlToTextCase, GivesTheText)
{
    EXPECT_EQ(HtmlToText(GetParam().html), GetParam().text);
}

const QString kNul(QChar(0));

INSTANTIATE_TEST_SUITE_P(
    Tags, HtmlToTextCase,
    testing::Values(
        HtmlCase{"text_without_markup", u"Hallo Welt"_s, u"Hallo Welt"_s},
        HtmlCase{"nested_tags_dropped", u"<html><body><p>Hallo <b><i>Welt</i></b>!</p></body></html>"_s,
                 u"Hallo Welt!"_s},
        HtmlCase{"attributes_go_with_their_tag", u"<a href=\"http://x.test/\" title='t'>Link</a>"_s, u"Link"_s},
        HtmlCase{"comparison_between_blanks_stays", u"wenn a < b ist"_s, u"wenn a < b ist"_s},
        HtmlCase{"lt_closing_no_tag_before_next_lt_stays", u"x <y <b>z</b>"_s, u"x <y z"_s},
        HtmlCase{"unterminated_tag_at_end_stays", u"Text <b"_s, u"Text <b"_s},
        HtmlCase{"lt_before_a_single_blank_keeps_the_blank", u"a < <b>c"_s, u"a < c"_s},
        HtmlCase{"text_before_first_tag_keeps_its_gt", u"a > b <i>c</i>"_s, u"a > b c"_s},
        HtmlCase{"gt_after_a_tag_is_text", u"<p>5 > 3</p>"_s, u"5 > 3"_s},
        HtmlCase{"source_line_breaks_stay_and_blocks_add_none",
                 u"<p>eins</p>\r\n<p>zwei</p><br>drei<div>vier</div>"_s, u"eins\r\nzweidreivier"_s},
        HtmlCase{"escaped_markup_is_not_stripped_again", u"&lt;b&gt;fett&lt;/b&gt;"_s, u"<b>fett</b>"_s}),
    caseName<HtmlCase>);

INSTANTIATE_TEST_SUITE_P(
    References, HtmlToTextCase,
    testing::Values(
        HtmlCase{"paragraph_with_umlaut_sharp_s_and_two_nbsp", u"<p>Gr&uuml;&szlig;e&nbsp;&NBSP;Anna</p>"_s,
                 u"Grüße  Anna"_s},
        HtmlCase{"markup_characters", u"&quot;&amp;&lt;&gt;"_s, u"\"&<>"_s},
        HtmlCase{"latin1_names_in_exact_case", u"&Auml;&auml;&AUML;&yuml;&iexcl;&frac34;"_s,
                 u"Ää&AUML;ÿ¡¾"_s},
        HtmlCase{"unknown_names_and_lone_ampersands_stay", u"&euro; AT&T; Tom & Jerry; &amp"_s,
                 u"&euro; AT&T; Tom & Jerry; &amp"_s},
        HtmlCase{"decimal", u"&#65;&#252;&#0065;"_s, u"AüA"_s},
        HtmlCase{"hexadecimal", u"&#x41;&#XFC;&#x20ac;"_s, u"Aü€"_s},
        HtmlCase{"beyond_latin1_and_beyond_16_bits", u"&#8364;&#128512;"_s, u"€\U0001F600"_s},
        HtmlCase{"codes_128_to_159_as_windows_1252", u"&#150;&#128;&#x93;"_s, u"–€“"_s},
        HtmlCase{"malformed_numeric_references_stay",
                 u"&#; &#x; &#65 &#1114112; &#55296; &#0; &#99999999999999999999; &#x41g;"_s,
                 u"&#; &#x; &#65 &#1114112; &#55296; &#0; &#99999999999999999999; &#x41g;"_s},
        HtmlCase{"number_sign_without_ampersand_stays", u"Bestellung #65; Nr. #12"_s,
                 u"Bestellung #65; Nr. #12"_s},
        HtmlCase{"decoded_text_is_not_decoded_again", u"&amp;#65; &amp;amp; &#37;41 &amp;nbsp;"_s,
                 u"&#65; &amp; %41 &nbsp;"_s}),
    caseName<HtmlCase>);

INSTANTIATE_TEST_SUITE_P(
    PercentEscapes, HtmlToTextCase,
    testing::Values(
        HtmlCase{"two_digits", u"%41%42c"_s, u"ABc"_s},
        HtmlCase{"windows_1252_bytes", u"Gr%FC%DFe"_s, u"Grüße"_s},
        HtmlCase{"utf8_sequence", u"Gr%C3%BC%c3%9fe"_s, u"Grüße"_s},
        HtmlCase{"one_digit_before_a_non_digit_or_the_end", u"%4x %A"_s, u"\x04x \n"_s},
        HtmlCase{"zero_byte", u"a%00b"_s, u"a"_s + kNul + u"b"_s},
        HtmlCase{"other_percent_signs_stay", u"50 % und 100% %zz %"_s, u"50 % und 100% %zz %"_s},
        HtmlCase{"next_to_references", u"&auml;%20%FC&uuml;"_s, u"ä üü"_s}),
    caseName<HtmlCase>);

// ---- ExtractPlainText ------------------------------------------------------------------------------

const QByteArray kHeader = "From: Anna Alt <anna@example.test>\r\n"
                           "To: bob@example.test\r\n"
                           "Subject: Test\r\n"
                           "Date: Mon, 3 Mar 2025 10:00:00 +0100\r\n"
                           "Message-ID: <1@example.test>\r\n"
                           "MIME-Version: 1.0\r\n";

// Messages are written with "\n"; POP3 delivers "\r\n".
QByteArray message(const QByteArray &rest)
{
    QByteArray out = kHeader;
    for (const char c : rest) {
        if (c == '\n')
            out.append('\r');
        out.append(c);
    }
    return out;
}

const QByteArray kPdfPart = "Content-Type: application/pdf; name=\"r.pdf\"\n"
                            "Content-Disposition: attachment; filename=\"r.pdf\"\n"
                            "Content-Transfer-Encoding: base64\n\n"
                            "JVBERi0xLjQKJcfsj6IKMSAwIG9iago8PD4+CmVuZG9iagp0cmFpbGVyCjw8Pj4KJSVFT0YK\n";

struct MimeCase {
    const char *name;
    QByteArray raw;
    QString text;
};

void PrintTo(const MimeCase &c, std::ostream *os)
{
    *os << c.name;
}

class ExtractPlainTextCase : public testing::TestWithParam<MimeCase> {};

TEST_P(ExtractPlainTextCase, GivesTheReadableText)
{
    MailMessage m;
    ASSERT_TRUE(m.FillFromRaw(GetParam().raw));
    EXPECT_EQ(ExtractPlainText(m), GetParam().text);
}

TEST_P(ExtractPlainTextCase, HeaderBlockAloneGivesNoText)
{
    const QByteArray &raw = GetParam().raw;
    MailMessage m;
    ASSERT_TRUE(m.FillFromHeader(raw.left(raw.indexOf("\r\n\r\n") + 2)));
    EXPECT_EQ(ExtractPlainText(m), QString());
    EXPECT_EQ(MessagePaneText(m), m.Headers.join(u'\n'));
}

INSTANTIATE_TEST_SUITE_P(
    MailMessage, ExtractPlainTextCase,
    testing::Values(
        MimeCase{"plain_quoted_printable_latin1",
                 message("Content-Type: text/plain; charset=iso-8859-1\n"
                         "Content-Transfer-Encoding: quoted-printable\n\n"
                         "Gr=FC=DFe\nvon Anna\n"),
                 u"Grüße\nvon Anna"_s},
        MimeCase{"no_content_type_is_plain_text", message("\nHallo\n\nBob\n"), u"Hallo\n\nBob"_s},
        MimeCase{"single_html",
                 message("Content-Type: TEXT/HTML; charset=utf-8\n\n"
                         "<html><body><p>Hallo&nbsp;<b>Welt</b></p>\n<p>Zeile&#x20;2</p></body></html>\n"),
                 u"Hallo Welt\nZeile 2"_s},
        MimeCase{"mixed_text_and_attachment",
                 message("Content-Type: multipart/mixed; boundary=\"b1\"\n\n"
                         "--b1\nContent-Type: text/plain; charset=utf-8\n\nSiehe Anhang.\n"
                         "--b1\n" + kPdfPart + "--b1--\n"),
                 u"Siehe Anhang."_s},
        MimeCase{"mixed_attachment_first_then_html",
                 message("Content-Type: multipart/mixed; boundary=\"b1\"\n\n"
                         "--b1\n" + kPdfPart +
                         "--b1\nContent-Type: text/html\n\n<p>Rechnung &amp; Mahnung</p>\n--b1--\n"),
                 u"Rechnung & Mahnung"_s},
        MimeCase{"alternative_takes_the_plain_part",
                 message("Content-Type: multipart/alternative; boundary=\"b1\"\n\n"
                         "--b1\nContent-Type: text/plain\n\nNur Text\n"
                         "--b1\nContent-Type: text/html\n\n<p>Nur <b>HTML</b></p>\n--b1--\n"),
                 u"Nur Text"_s},
        // The boundary names a text type: only the media type itself may decide.
        MimeCase{"alternative_html_first_with_boundary_naming_text_plain",
                 message("Content-Type: multipart/alternative; boundary=\"=_text/plain_1\"\n\n"
                         "--=_text/plain_1\nContent-Type: text/html\n\n<p>Erst&nbsp;HTML</p>\n"
                         "--=_text/plain_1\nContent-Type: text/plain\n\nDann Text\n--=_text/plain_1--\n"),
                 u"Erst HTML"_s},
        MimeCase{"nested_alternative_inside_mixed",
                 message("Content-Type: multipart/mixed; boundary=\"out\"\n\n"
                         "--out\nContent-Type: multipart/alternative; boundary=\"in\"\n\n"
                         "--in\nContent-Type: text/plain; charset=utf-8\n\nInnen Text\n"
                         "--in\nContent-Type: text/html; charset=utf-8\n\n<p>Innen HTML</p>\n--in--\n"
                         "--out\n" + kPdfPart + "--out--\n"),
                 u"Innen Text"_s},
        MimeCase{"related_html_with_image",
                 message("Content-Type: multipart/related; boundary=\"b1\"\n\n"
                         "--b1\nContent-Type: text/html\n\n<p>Bild:</p><img src=\"cid:i1\">\n"
                         "--b1\nContent-Type: image/png\nContent-Transfer-Encoding: base64\n\niVBORw0KGgo=\n"
                         "--b1--\n"),
                 u"Bild:"_s},
        MimeCase{"signed_message_gives_its_text",
                 message("Content-Type: multipart/signed; protocol=\"application/pgp-signature\"; "
                         "micalg=pgp-sha256; boundary=\"s1\"\n\n"
                         "--s1\nContent-Type: text/plain\n\nUnterschrieben\n"
                         "--s1\nContent-Type: application/pgp-signature\n\nxyz\n--s1--\n"),
                 u"Unterschrieben"_s},
        MimeCase{"mixed_with_attachments_only_gives_nothing",
                 message("Content-Type: multipart/mixed; boundary=\"b1\"\n\n--b1\n" + kPdfPart + "--b1--\n"),
                 QString()},
        MimeCase{"multipart_whose_boundary_never_shows_gives_its_text",
                 message("Content-Type: multipart/mixed; boundary=\"nowhere\"\n\nNur Vorspann\n"),
                 u"Nur Vorspann"_s}),
    caseName<MimeCase>);

// ---- MessagePaneText -------------------------------------------------------------------------------

TEST(MessagePaneText, ShowsHeaderThenEveryTextPartWithItsHeadersButNoAttachment)
{
    MailMessage m;
    ASSERT_TRUE(m.FillFromRaw(message(
        "Content-Type: multipart/mixed; boundary=\"out\"\n\n"
        "--out\nContent-Type: multipart/alternative; boundary=\"in\"\n\n"
        "--in\nContent-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: quoted-printable\n\n"
        "Gr=C3=BC=C3=9Fe\nAnna\n"
        "--in\nContent-Type: text/html; charset=utf-8\n\n<p>Gr&uuml;&szlig;e</p>\n--in--\n"
        "--out\n" + kPdfPart + "--out--\n")));
    EXPECT_EQ(MessagePaneText(m),
              u"From: Anna Alt <anna@example.test>\n"
              "To: bob@example.test\n"
              "Subject: Test\n"
              "Date: Mon, 3 Mar 2025 10:00:00 +0100\n"
              "Message-ID: <1@example.test>\n"
              "MIME-Version: 1.0\n"
              "Content-Type: multipart/mixed; boundary=\"out\"\n"
              "\n"
              "Content-Type: text/plain; charset=utf-8\n"
              "Content-Transfer-Encoding: quoted-printable\n"
              "Grüße\n"
              "Anna\n"
              "\n"
              "Content-Type: text/html; charset=utf-8\n"
              "<p>Gr&uuml;&szlig;e</p>"_s);
}

TEST(MessagePaneText, SinglePartBodyFollowsTheHeaderUnlessItIsBlank)
{
    MailMessage m;
    ASSERT_TRUE(m.FillFromRaw(message("Content-Type: text/plain\n\nHallo\n\n  Bob\n")));
    const QString header = m.Headers.join(u'\n');
    EXPECT_EQ(MessagePaneText(m), header + u"\nHallo\n\n  Bob"_s);

    ASSERT_TRUE(m.FillFromRaw(message("Content-Type: text/plain\n\n \n\t\n\n")));
    EXPECT_EQ(MessagePaneText(m), m.Headers.join(u'\n'));
}

// ---- Links -----------------------------------------------------------------------------------------

struct LinkCase {
    const char *name;
    QString text;
    std::vector<TWebLink> links;
};

void PrintTo(const LinkCase &c, std::ostream *os)
{
    *os << c.name;
}

class FindWebLinksCase : public testing::TestWithParam<LinkCase> {};

TEST_P(FindWebLinksCase, FindsTheLinks)
{
    const QList<TWebLink> found = FindWebLinks(GetParam().text);
    ASSERT_EQ(size_t(found.size()), GetParam().links.size());
    for (size_t i = 0; i < GetParam().links.size(); ++i) {
        const TWebLink &want = GetParam().links[i];
        EXPECT_EQ(found[qsizetype(i)].Start, want.Start) << i;
        EXPECT_EQ(found[qsizetype(i)].Length, want.Length) << i;
        EXPECT_EQ(found[qsizetype(i)].Url, want.Url) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Links, FindWebLinksCase,
    testing::Values(
        LinkCase{"sentence_dot_is_not_part_of_the_link", u"Siehe http://example.test/a?b=1&c=2. Danke"_s,
                 {{6, 29, u"http://example.test/a?b=1&c=2"_s}}},
        LinkCase{"bare_www_in_brackets_opens_over_http", u"(www.example.test)"_s,
                 {{1, 16, u"http://www.example.test"_s}}},
        LinkCase{"brackets_inside_the_link_stay", u"https://de.wikipedia.org/wiki/Foo_(Bar))."_s,
                 {{0, 39, u"https://de.wikipedia.org/wiki/Foo_(Bar)"_s}}},
        LinkCase{"mailto_ftp_and_any_letter_case",
                 u"mailto:anna@example.test, HTTPS://EXAMPLE.TEST/X\nftp://files.example.test/r.pdf"_s,
                 {{0, 24, u"mailto:anna@example.test"_s},
                  {26, 22, u"HTTPS://EXAMPLE.TEST/X"_s},
                  {49, 30, u"ftp://files.example.test/r.pdf"_s}}},
        LinkCase{"quotes_and_angle_brackets_end_the_link",
                 u"„http://example.test/ü“ <http://x.test/>"_s,
                 {{1, 21, u"http://example.test/ü"_s}, {25, 14, u"http://x.test/"_s}}},
        LinkCase{"not_inside_a_word_or_name", u"xhttp://a.test foo.www.a.test a@www.b.test"_s, {}},
        LinkCase{"prefix_alone_is_no_link", u"http:// www. www.. mailto:"_s, {}},
        LinkCase{"local_files_and_other_schemes_never",
                 u"file:///etc/passwd javascript:alert(1) \\\\server\\share"_s, {}}),
    caseName<LinkCase>);

TEST(LinkedHtml, KeepsTheTextExactlyAndMakesEachLinkAnAnchor)
{
    const QString text = u"<b>&amp;\"zitiert\"</b>\n  eingerückt\tTab\n\nhttp://x.test/?a=1&b=2 und "
                         "www.y.test.\nEnde"_s;
    QTextDocument doc;
    doc.setHtml(LinkedHtml(text));
    EXPECT_EQ(doc.toPlainText(), text);

    QStringList anchors;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next())
        for (auto it = block.begin(); !it.atEnd(); ++it)
            if (it.fragment().charFormat().isAnchor())
                anchors << it.fragment().text() + u" -> "_s + it.fragment().charFormat().anchorHref();
    EXPECT_EQ(anchors, QStringList({u"http://x.test/?a=1&b=2 -> http://x.test/?a=1&b=2"_s,
                                    u"www.y.test -> http://www.y.test"_s}));
}

// ---- Hostile input ---------------------------------------------------------------------------------

// Each of these would take hours if a step went back over the text for every mark, or would never end
// if a step failed to move on; they must simply finish.
TEST(MessageTextHostile, HugeInputsFinishWithTheExpectedText)
{
    const qsizetype n = 10 * 1024 * 1024;
    const QString lts(n, u'<');
    EXPECT_EQ(HtmlToText(lts), lts);
    const QString amps(n, u'&');
    EXPECT_EQ(HtmlToText(amps), amps);
    const QString percents(n, u'%');
    EXPECT_EQ(HtmlToText(percents), percents);
    const QString openTags = QString(u"<a"_s).repeated(n / 2);
    EXPECT_EQ(HtmlToText(openTags), openTags);
    const QString longNumber = u"&#"_s + QString(n, u'9') + u";"_s;
    EXPECT_EQ(HtmlToText(longNumber), longNumber);
    EXPECT_EQ(HtmlToText(u"&#x"_s + QString(n, u'0') + u"41;"_s), u"A"_s);
    const QString nbspWithoutSemicolon = QString(u"&nbsp"_s).repeated(n / 5);
    EXPECT_EQ(HtmlToText(nbspWithoutSemicolon), nbspWithoutSemicolon);
    EXPECT_EQ(HtmlToText(u"<"_s + QString(n, u'>')), QString(n - 1, u'>'));
    EXPECT_EQ(HtmlToText(QString(u"<b>&auml;%FC"_s).repeated(n / 12)), QString(u"äü"_s).repeated(n / 12));

    const QString oneLongLink = u"http://"_s + QString(u"http://"_s).repeated(n / 7);
    const QList<TWebLink> links = FindWebLinks(oneLongLink);
    ASSERT_EQ(links.size(), 1);
    EXPECT_EQ(links.first().Length, oneLongLink.size());
    EXPECT_EQ(FindWebLinks(QString(u"www.a "_s).repeated(n / 60)).size(), n / 60);
    EXPECT_TRUE(FindWebLinks(QString(n, u')')).isEmpty());
}

} // namespace
