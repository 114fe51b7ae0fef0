// The IMAP pieces that need no connection: reading a response from its pieces, quoting, folder names in
// modified UTF-7, and UID sets.
#include "ImapParser.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

namespace {

// A value written back in one line: atoms as they are, strings quoted, lists in parentheses.
QByteArray show(const ImapValue &v)
{
    switch (v.kind) {
    case ImapValue::Atom:
        return v.text;
    case ImapValue::String:
        return '"' + v.text + '"';
    case ImapValue::Nil:
        return "NIL";
    case ImapValue::List: {
        QByteArrayList items;
        for (const ImapValue &i : v.items)
            items << show(i);
        return '(' + items.join(' ') + ')';
    }
    }
    return {};
}

QByteArray show(const QList<ImapValue> &values)
{
    QByteArrayList out;
    for (const ImapValue &v : values)
        out << show(v);
    return out.join(' ');
}

struct ResponseCase {
    const char *name;
    QByteArrayList pieces;
    bool ok;
    ImapResponse::Kind kind;
    QByteArray tag, name_;
    qint64 number;
    QByteArray code, codeArgs, text, values;
};

void PrintTo(const ResponseCase &c, std::ostream *os)
{
    *os << c.name;
}

class ImapResponseTest : public ::testing::TestWithParam<ResponseCase> {};

TEST_P(ImapResponseTest, TakesTheResponseApart)
{
    const ResponseCase &c = GetParam();
    ImapResponse r;
    QString error;
    ASSERT_EQ(ParseImapResponse(c.pieces, &r, &error), c.ok) << error.toStdString();
    if (!c.ok) {
        EXPECT_FALSE(error.isEmpty());
        return;
    }
    EXPECT_EQ(r.kind, c.kind);
    EXPECT_EQ(r.tag, c.tag);
    EXPECT_EQ(r.name, c.name_);
    EXPECT_EQ(r.number, c.number);
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(show(r.codeArgs), c.codeArgs);
    EXPECT_EQ(r.text, c.text);
    EXPECT_EQ(show(r.values), c.values);
}

using K = ImapResponse::Kind;

INSTANTIATE_TEST_SUITE_P(
    Imap, ImapResponseTest,
    ::testing::Values(
        ResponseCase{"TaggedWithCodeAndText", {"A3 NO [TRYCREATE] No such mailbox"}, true, K::Tagged, "A3", "NO", -1,
                     "TRYCREATE", "", "No such mailbox", ""},
        ResponseCase{"UntaggedCodeWithList", {"* OK [PERMANENTFLAGS (\\Deleted \\Seen \\*)] Flags permitted."}, true,
                     K::Untagged, "", "OK", -1, "PERMANENTFLAGS", "(\\Deleted \\Seen \\*)", "Flags permitted.", ""},
        ResponseCase{"CopyUidCode", {"A5 OK [COPYUID 38505 304,319:320 3956:3958] Done"}, true, K::Tagged, "A5", "OK",
                     -1, "COPYUID", "38505 304,319:320 3956:3958", "Done", ""},
        ResponseCase{"BracketThatIsNoCode", {"* OK [unclosed text"}, true, K::Untagged, "", "OK", -1, "", "",
                     "[unclosed text", ""},
        ResponseCase{"Continuation", {"+ go ahead"}, true, K::Continuation, "", "", -1, "", "", "go ahead", ""},
        ResponseCase{"BareContinuation", {"+"}, true, K::Continuation, "", "", -1, "", "", "", ""},
        ResponseCase{"Exists", {"* 23 EXISTS"}, true, K::Untagged, "", "EXISTS", 23, "", "", "", ""},
        ResponseCase{"FetchWithLiteralAndNil",
                     {"* 12 FETCH (UID 7 FLAGS (\\Seen) RFC822.SIZE 44 BODY[HEADER] {5}", "a\r\nb\n",
                      " ENVELOPE NIL)"},
                     true, K::Untagged, "", "FETCH", 12, "", "", "",
                     "(UID 7 FLAGS (\\Seen) RFC822.SIZE 44 BODY[HEADER] \"a\r\nb\n\" ENVELOPE NIL)"},
        ResponseCase{"SectionWithBlanksStaysOneAtom", {"* 1 FETCH (BODY[HEADER.FIELDS (FROM TO)] \"x\")"}, true,
                     K::Untagged, "", "FETCH", 1, "", "", "", "(BODY[HEADER.FIELDS (FROM TO)] \"x\")"},
        ResponseCase{"ListWithQuotedDelimiterAndEscapes", {"* LIST (\\HasNoChildren \\Junk) \"/\" \"Sp\\\"am\""}, true,
                     K::Untagged, "", "LIST", -1, "", "", "", "(\\HasNoChildren \\Junk) \"/\" \"Sp\"am\""},
        ResponseCase{"EsearchWithoutMatches", {"* ESEARCH (TAG \"A4\") UID"}, true, K::Untagged, "", "ESEARCH", -1, "",
                     "", "", "(TAG \"A4\") UID"},
        ResponseCase{"CapabilityInLowerCase", {"* capability imap4rev1 idle"}, true, K::Untagged, "", "CAPABILITY", -1,
                     "", "", "", "imap4rev1 idle"},
        ResponseCase{"UnclosedList", {"* 1 FETCH (FLAGS (\\Seen)"}, false, K::Untagged, "", "", -1, "", "", "", ""},
        ResponseCase{"ListClosedTooOften", {"* 1 FETCH (FLAGS ()))"}, false, K::Untagged, "", "", -1, "", "", "", ""},
        ResponseCase{"LiteralOfAnotherLength", {"* 1 FETCH (BODY[] {5}", "abc", ")"}, false, K::Untagged, "", "", -1, "", "", "", ""},
        ResponseCase{"LiteralNotAtTheLineEnd", {"* 1 FETCH (BODY[] {5} x)"}, false, K::Untagged, "", "", -1, "", "", "", ""},
        ResponseCase{"TaggedWithoutStatus", {"A1 FETCH 1"}, false, K::Untagged, "", "", -1, "", "", "", ""},
        ResponseCase{"TaggedPreauth", {"A1 PREAUTH"}, false, K::Untagged, "", "", -1, "", "", "", ""},
        ResponseCase{"UnterminatedString", {"* LIST () \"/\" \"INBOX"}, false, K::Untagged, "", "", -1, "", "", "", ""},
        ResponseCase{"NestedTooDeep", {"* 1 FETCH " + QByteArray(100, '(') + QByteArray(100, ')')}, false, K::Untagged, "", "", -1, "", "", "", ""},
        ResponseCase{"NoKeyword", {"* "}, false, K::Untagged, "", "", -1, "", "", "", ""}),
    [](const ::testing::TestParamInfo<ResponseCase> &info) { return std::string(info.param.name); });

TEST(ImapParser, AnnouncedLiteralLengths)
{
    EXPECT_EQ(AnnouncedLiteral("* 1 FETCH (BODY[] {12}"), 12);
    EXPECT_EQ(AnnouncedLiteral("A1 LOGIN {3+}"), 3);
    EXPECT_EQ(AnnouncedLiteral("{0}"), 0);
    EXPECT_EQ(AnnouncedLiteral("* OK no literal"), std::nullopt);
    EXPECT_EQ(AnnouncedLiteral("* OK {x}"), std::nullopt);
    EXPECT_EQ(AnnouncedLiteral("* 1 FETCH (BODY[] {99999999999999999999}"), -1);
}

TEST(ImapParser, QuotesWhatNeedsQuotingAndRefusesWhatNeedsALiteral)
{
    EXPECT_EQ(ImapQuoted("INBOX"), QByteArray("INBOX"));
    EXPECT_EQ(ImapQuoted("Mein Ordner"), QByteArray("\"Mein Ordner\""));
    EXPECT_EQ(ImapQuoted("a\"b\\c"), QByteArray("\"a\\\"b\\\\c\""));
    EXPECT_EQ(ImapQuoted(""), QByteArray("\"\""));
    EXPECT_EQ(ImapQuoted("NIL"), QByteArray("\"NIL\""));
    EXPECT_EQ(ImapQuoted("gr\xc3\xbc\xc3\x9f"), std::nullopt);
    EXPECT_EQ(ImapQuoted("a\r\nA2 LOGOUT"), std::nullopt);
    EXPECT_EQ(ImapQuoted(QByteArray(1001, 'a')), std::nullopt);
}

TEST(ImapParser, FolderNamesInModifiedUtf7BothWays)
{
    const QList<std::pair<QString, QByteArray>> cases{
        {QStringLiteral("INBOX"), "INBOX"},
        {QStringLiteral("Unerwünscht"), "Unerw&APw-nscht"},
        {QStringLiteral("Tom & Jerry"), "Tom &- Jerry"},
        {QStringLiteral("日本語"), "&ZeVnLIqe-"},
        {QStringLiteral("~peter/mail/台北/日本語"), "~peter/mail/&U,BTFw-/&ZeVnLIqe-"},
    };
    for (const auto &[name, wire] : cases) {
        EXPECT_EQ(EncodeMailboxName(name), wire);
        EXPECT_EQ(DecodeMailboxName(wire), name);
    }
    // What is no valid modified UTF-7 reads as Latin-1, as from a server that does not encode.
    EXPECT_EQ(DecodeMailboxName("Sp&am"), QStringLiteral("Sp&am"));
    EXPECT_EQ(DecodeMailboxName("Gr\xfc\xdf"), QStringLiteral("Grüß"));
}

TEST(ImapParser, UidSetsShortAndCut)
{
    EXPECT_EQ(UidSets({1, 2, 3, 5, 7, 8}), QByteArrayList{"1:3,5,7:8"});
    EXPECT_EQ(UidSets({}), QByteArrayList());
    EXPECT_EQ(UidSets({10, 12, 14, 16}, 5), QByteArrayList({"10,12", "14,16"}));
    EXPECT_EQ(ParseUidSet("1:3,5,9:7", 100), QList<uint32_t>({1, 2, 3, 5, 7, 8, 9}));
    EXPECT_EQ(ParseUidSet("4,4,2", 100), QList<uint32_t>({2, 4}));
    EXPECT_EQ(ParseUidSet("1:4294967295", 1000), std::nullopt);
    EXPECT_EQ(ParseUidSet("0", 10), std::nullopt);
    EXPECT_EQ(ParseUidSet("1:x", 10), std::nullopt);
    EXPECT_EQ(ParseUidSet("", 10), std::nullopt);
}

} // namespace
