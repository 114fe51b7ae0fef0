// The IMAP engine of the mailbox session against scripted servers: which commands a scan, a removal and a
// text fetch send (read-only, one FETCH, never a plain EXPUNGE), and what they make of the answers.
#include "CheckerTestSupport.h"
#include "ImapSession.h"

namespace {

QByteArray plainLogin()
{
    return "A1 AUTHENTICATE PLAIN " + QByteArray("\0bob\0pw", 7).toBase64();
}

// A new connection and its login; capabilities of the logged-in session as given.
Script ImapLogin(const QByteArray &capabilities = "IMAP4rev1 ESEARCH MOVE UIDPLUS SPECIAL-USE")
{
    return {Accept(), S("* OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN] ready"), C(plainLogin()),
            S("A1 OK [CAPABILITY " + capabilities + "] Logged in")};
}

Script Examine(const QByteArray &tag, const QByteArray &verb = "EXAMINE", int exists = 5, int validity = 42)
{
    return {C(tag + ' ' + verb + " INBOX"), S("* " + QByteArray::number(exists) + " EXISTS"),
            S("* OK [UIDVALIDITY " + QByteArray::number(validity) + "] UIDs valid"), S(tag + " OK done")};
}

Script Logout(const QByteArray &tag)
{
    return {C(tag + " LOGOUT"), S("* BYE Logging out"), S(tag + " OK Logout completed.")};
}

Script FetchHeader(int sequence, int uid, const QByteArray &subject, const QByteArray &flags = "")
{
    const QByteArray header = "Subject: " + subject + "\r\nFrom: anna@example.test\r\n\r\n";
    return {S("* " + QByteArray::number(sequence) + " FETCH (UID " + QByteArray::number(uid) + " RFC822.SIZE "
              + QByteArray::number(100 + uid) + " FLAGS (" + flags + ") BODY[HEADER] {"
              + QByteArray::number(header.size()) + "}"),
            S("Subject: " + subject), S("From: anna@example.test"), S(""), S(")")};
}

class ImapSessionTest : public CheckerFixture {
protected:
    TPOP3AccountSettings imapAccount(int action = isaMoveToJunk) const
    {
        TPOP3AccountSettings a = Account(QStringLiteral("imap.example.test"));
        a.AccountType = atIMAP;
        a.Port = 143;
        a.IMAPSpamAction = action;
        return a;
    }

    TMailEntry entry(uint32_t uid, uint32_t validity = 42) const
    {
        TMailEntry e;
        e.Host = QStringLiteral("imap.example.test");
        e.UserName = QStringLiteral("bob");
        e.Uid = uid;
        e.UidValidity = validity;
        return e;
    }

    QList<TRemoval> remove(TPop3Thread &worker, const TPOP3AccountSettings &account, QList<TMailEntry> entries)
    {
        QList<TMailEntry *> pointers;
        for (TMailEntry &e : entries)
            pointers << &e;
        QList<TRemoval> outcomes = worker.Session(account).RemoveMessages(account, pointers);
        QString error;
        EXPECT_TRUE(worker.Session(account).EndSession(error));
        return outcomes;
    }

    static QList<int> results(const QList<TRemoval> &outcomes)
    {
        QList<int> out;
        for (const TRemoval &r : outcomes)
            out << r.Result;
        return out;
    }
};

// A stored security this version does not know, or a password the keyring cannot give: no connection.
TEST_F(ImapSessionTest, AnUnknownSecurityRefusesToConnect)
{
    for (const int32_t security : {3, -1}) {
        SCOPED_TRACE(security);
        TPop3Thread worker(nullptr, options());
        TPOP3AccountSettings account = imapAccount();
        account.POP3Security = security;
        bool fatal = false;
        int code = -1;
        QString error;
        EXPECT_FALSE(worker.Connect(account, fatal, code, error));
        EXPECT_TRUE(fatal);
        EXPECT_EQ(error, unknownSecurityText(QStringLiteral("imap.example.test")));
        EXPECT_EQ(fake->connectCount(), 0);
    }
}

TEST_F(ImapSessionTest, ScanExaminesSearchesAndFetchesTheUnreadHeadersInOneCommand)
{
    TPop3Thread worker(nullptr, options());
    play(ImapLogin() << Examine("A2") << C("A3 UID SEARCH RETURN (ALL) UNSEEN UNDELETED")
                     << S("* ESEARCH (TAG \"A3\") UID ALL 7:8,11") << S("A3 OK")
                     << C("A4 UID FETCH 7:8,11 (UID RFC822.SIZE FLAGS BODY.PEEK[HEADER])")
                     << FetchHeader(2, 7, "eins")
                     // Another client's flag change on the way, and a message read meanwhile.
                     << S("* 1 FETCH (FLAGS (\\Seen))") << FetchHeader(3, 8, "gelesen", "\\Seen")
                     << FetchHeader(5, 11, "zwei", "\\Recent") << S("A4 OK Fetch completed.") << Logout("A5"));
    QList<TMailEntry *> target;
    bool fatal = true;
    int code = -1;
    QString error;
    ASSERT_TRUE(worker.FetchHeaders(imapAccount(), target, fatal, code, error)) << error.toStdString();
    ASSERT_EQ(target.size(), 2);
    EXPECT_EQ(target[0]->Message.Subject, QStringLiteral("eins"));
    EXPECT_EQ(target[0]->MsgNumber, 2);
    EXPECT_EQ(target[0]->Uid, 7u);
    EXPECT_EQ(target[0]->UidValidity, 42u);
    EXPECT_EQ(target[0]->Size, 107);
    EXPECT_EQ(target[1]->Message.Subject, QStringLiteral("zwei"));
    EXPECT_EQ(target[1]->Message.UID, QStringLiteral("imap://bob@imap.example.test/INBOX;UIDVALIDITY=42/;UID=11"));
    EXPECT_TRUE(target[1]->ServerUIDL.isEmpty());
    qDeleteAll(target);
    expectScriptDone();
}

TEST_F(ImapSessionTest, WithoutEsearchThePlainSearchAndAnEmptyFolderIsNoFailure)
{
    TPop3Thread worker(nullptr, options());
    play(ImapLogin("IMAP4rev1") << Examine("A2") << C("A3 UID SEARCH UNSEEN UNDELETED") << S("* SEARCH")
                                << S("A3 OK") << Logout("A4"));
    QList<TMailEntry *> target;
    bool fatal = true;
    int code = -1;
    QString error;
    EXPECT_FALSE(worker.FetchHeaders(imapAccount(), target, fatal, code, error));
    EXPECT_FALSE(fatal);
    EXPECT_TRUE(error.isEmpty());
    expectScriptDone();
}

struct RemovalCase {
    const char *name;
    int action;
    QByteArray capabilities;
    Script afterSearch; // after "A4 UID SEARCH ... UID 3,9" found only UID 3
    QList<int> results;
    QString errorText;
};

void PrintTo(const RemovalCase &c, std::ostream *os)
{
    *os << c.name;
}

class ImapRemovalTest : public ImapSessionTest, public ::testing::WithParamInterface<RemovalCase> {};

TEST_P(ImapRemovalTest, RemovesOnlyTheseUidsAndNeverExpungesTheRest)
{
    const RemovalCase &c = GetParam();
    TPop3Thread worker(nullptr, options());
    play(ImapLogin(c.capabilities) << Examine("A2", "SELECT") << C("A3 UID SEARCH UID 3,9") << S("* SEARCH 3")
                                   << S("A3 OK") << c.afterSearch);
    const QList<TRemoval> outcomes = remove(worker, imapAccount(c.action), {entry(3), entry(9)});
    EXPECT_EQ(results(outcomes), c.results);
    EXPECT_EQ(outcomes.value(0).ErrorText, c.errorText);
    for (const QByteArray &line : fake->written())
        EXPECT_FALSE(line.endsWith(" EXPUNGE")) << "a plain EXPUNGE: " << line.constData();
    expectScriptDone();
}

const QByteArray kList = "A4 LIST \"\" \"*\" RETURN (SPECIAL-USE)";

INSTANTIATE_TEST_SUITE_P(
    Imap, ImapRemovalTest,
    ::testing::Values(
        RemovalCase{"MovedToTheFlaggedFolder", isaMoveToJunk, "IMAP4rev1 MOVE UIDPLUS SPECIAL-USE",
                    Script{C(kList), S("* LIST (\\HasNoChildren) \".\" INBOX"),
                           S("* LIST (\\HasNoChildren \\Junk) \".\" \"Unerw&APw-nscht\""), S("A4 OK"),
                           C("A5 UID MOVE 3 Unerw&APw-nscht"), S("* 1 EXPUNGE"), S("A5 OK Move done")}
                        << Logout("A6"),
                    {TRemoval::Removed, TRemoval::Gone}, {}},
        RemovalCase{"CopiedMarkedAndExpungedByUid", isaMoveToJunk, "IMAP4rev1 UIDPLUS SPECIAL-USE",
                    Script{C(kList), S("* LIST () \".\" Spam"), S("A4 OK"), C("A5 UID COPY 3 Spam"),
                           S("A5 OK [COPYUID 7 3 1] Copy done"), C("A6 UID STORE 3 +FLAGS.SILENT (\\Deleted)"),
                           S("A6 OK"), C("A7 UID EXPUNGE 3"), S("* 1 EXPUNGE"), S("A7 OK")}
                        << Logout("A8"),
                    {TRemoval::Removed, TRemoval::Gone}, {}},
        RemovalCase{"JunkMadeWhereThereIsNone", isaMoveToJunk, "IMAP4rev1 MOVE",
                    Script{C("A4 LIST \"\" \"*\""), S("* LIST () \".\" INBOX"), S("A4 OK"), C("A5 CREATE Junk"),
                           S("A5 OK"), C("A6 SUBSCRIBE Junk"), S("A6 OK"), C("A7 UID MOVE 3 Junk"), S("A7 OK")}
                        << Logout("A8"),
                    {TRemoval::Removed, TRemoval::Gone}, {}},
        RemovalCase{"DeletedByUid", isaDelete, "IMAP4rev1 UIDPLUS",
                    Script{C("A4 UID STORE 3 +FLAGS.SILENT (\\Deleted)"), S("A4 OK"), C("A5 UID EXPUNGE 3"),
                           S("A5 OK")}
                        << Logout("A6"),
                    {TRemoval::Removed, TRemoval::Gone}, {}},
        RemovalCase{"WithoutUidplusOnlyMarked", isaDelete, "IMAP4rev1",
                    Script{C("A4 UID STORE 3 +FLAGS.SILENT (\\Deleted)"), S("A4 OK")} << Logout("A5"),
                    {TRemoval::Failed, TRemoval::Gone},
                    QStringLiteral("Die E-Mails wurden zum Löschen markiert. Der Server bietet kein UID EXPUNGE "
                                   "(UIDPLUS) an; ein einfaches EXPUNGE würde auch alle anderen zum Löschen markierten "
                                   "E-Mails des Ordners entfernen. Die E-Mails bleiben daher markiert, bis Ihr "
                                   "E-Mail-Programm den Ordner bereinigt.")},
        RemovalCase{"MoveRefused", isaMoveToJunk, "IMAP4rev1 MOVE SPECIAL-USE",
                    Script{C(kList), S("* LIST (\\Junk) \".\" Junk"), S("A4 OK"), C("A5 UID MOVE 3 Junk"),
                           S("A5 NO [OVERQUOTA] Quota exceeded")}
                        << Logout("A6"),
                    {TRemoval::Failed, TRemoval::Gone}, QStringLiteral("[OVERQUOTA] Quota exceeded")}),
    [](const ::testing::TestParamInfo<RemovalCase> &info) { return std::string(info.param.name); });

TEST_F(ImapSessionTest, AnotherUidValidityRefusesTheWholeRemovalBeforeAnyChange)
{
    TPop3Thread worker(nullptr, options());
    play(ImapLogin() << Examine("A2", "SELECT", 5, 43) << Logout("A3"));
    const QList<TRemoval> outcomes = remove(worker, imapAccount(), {entry(3), entry(9)});
    EXPECT_EQ(results(outcomes), QList<int>({TRemoval::Failed, TRemoval::Failed}));
    EXPECT_EQ(outcomes.first().ErrorText, kMailboxChangedText);
    expectScriptDone();
}

TEST_F(ImapSessionTest, TextIsPeekedByUidAndAMessageGoneMeanwhileIsSaid)
{
    TPop3Thread worker(nullptr, options());
    const QByteArray raw = "Subject: eins\r\n\r\nText der E-Mail\r\n";
    play(ImapLogin() << Examine("A2") << C("A3 UID FETCH 7 (UID BODY.PEEK[])")
                     << S("* 2 FETCH (UID 7 BODY[] {" + QByteArray::number(raw.size()) + "}") << S("Subject: eins")
                     << S("") << S("Text der E-Mail") << S(")") << S("A3 OK") << Logout("A4"));
    TMailEntry e = entry(7);
    e.Message.UID = QStringLiteral("kept");
    bool fatal = false;
    int code = 0;
    QString error;
    ASSERT_TRUE(worker.FetchText(imapAccount(), e, false, fatal, code, error)) << error.toStdString();
    EXPECT_EQ(e.Message.Body, QStringList{QStringLiteral("Text der E-Mail")});
    EXPECT_EQ(e.Message.UID, QStringLiteral("kept"));

    play(ImapLogin() << Examine("A2") << C("A3 UID FETCH 8 (UID BODY.PEEK[])") << S("A3 OK") << Logout("A4"));
    TMailEntry gone = entry(8);
    EXPECT_FALSE(worker.FetchText(imapAccount(), gone, false, fatal, code, error));
    EXPECT_EQ(error, kMessageGoneText);
    expectScriptDone();
}

} // namespace
