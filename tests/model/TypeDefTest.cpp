#include "MsgBox.h"
#include "TestProfile.h"
#include "TypeDef.h"

#include <gtest/gtest.h>

#include <array>

namespace {

TEST(TMailList, CountByStateCountsOverAllAccounts)
{
    std::array<TMailEntry, 5> entries;
    const struct {
        const char *host;
        const char *user;
        int32_t state;
    } rows[] = {
        {"pop.a.example", "anna", msSpam},   {"pop.a.example", "anna", msNormal},
        {"pop.b.example", "bert", msSpam},   {"pop.b.example", "carla", msSpam},
        {"pop.b.example", "carla", msNormal},
    };
    TMailList list;
    for (size_t i = 0; i < entries.size(); ++i) {
        entries[i].Host = rows[i].host;
        entries[i].UserName = rows[i].user;
        entries[i].State = rows[i].state;
        list.Add(&entries[i]);
    }
    EXPECT_EQ(list.CountByState(msSpam), 3);
    EXPECT_EQ(list.CountByState(msNormal), 2);
    EXPECT_EQ(list.CountByState(5), 0);

    // Only what the list holds counts: dropping an entry from it lowers the count.
    list.Delete(list.IndexOf(&entries[2]));
    EXPECT_EQ(list.CountByState(msSpam), 2);
}

TEST(TMailList, EmptyListCountsZero)
{
    TMailList list;
    EXPECT_EQ(list.CountByState(msSpam), 0);
    EXPECT_EQ(list.CountByState(msNormal), 0);
}

// Switching the security moves a port that still holds the other choice's default, and only such a port.
TEST(ConnectionSecurity, PortFollowsTheSecurityOnlyFromTheDefaults)
{
    const struct {
        int32_t port, security, pop3, smtp;
    } cases[] = {
        {110, csSSLTLS, 995, 110},   {995, csNone, 110, 995},     {995, csStartTLS, 110, 995},
        {25, csSSLTLS, 25, 465},     {465, csNone, 465, 25},      {465, csStartTLS, 465, 25},
        {110, csStartTLS, 110, 110}, {995, csSSLTLS, 995, 995},   {465, csSSLTLS, 465, 465},
        {587, csSSLTLS, 587, 587},   {587, csNone, 587, 587},     {1110, csSSLTLS, 1110, 1110},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.port << " security " << c.security);
        EXPECT_EQ(POP3PortForSecurity(c.port, c.security), c.pop3);
        EXPECT_EQ(SMTPPortForSecurity(c.port, c.security), c.smtp);
    }
}

TEST(ShowMsgBox, EmptyCaptionGetsTheDefaultOfItsKind)
{
    RecordingMessageBox box(IDYES);
    EXPECT_TRUE(YesNoQuestion("Wirklich löschen?"));
    ASSERT_EQ(box.shown.size(), 1);
    EXPECT_EQ(box.shown[0].caption, "Bestätigung");
    EXPECT_EQ(box.shown[0].kind, MsgConfirmation);
    EXPECT_EQ(box.shown[0].buttons, int(BtnYesNo));
    EXPECT_EQ(box.shown[0].text, "Wirklich löschen?");

    EXPECT_EQ(ShowMsgBox("x", "Eigene", MsgConfirmation, BtnOK), int(IDYES));
    EXPECT_EQ(box.shown[1].caption, "Eigene") << "a caption given is kept";
}

TEST(ShowMsgBox, DefaultCaptions)
{
    EXPECT_EQ(DefaultCaption(MsgError), "Fehler");
    EXPECT_EQ(DefaultCaption(MsgInformation), "Information");
    EXPECT_EQ(DefaultCaption(MsgQuestion), "Frage");
    EXPECT_EQ(DefaultCaption(MsgWarning), "Warnung");
    EXPECT_EQ(DefaultCaption(MsgConfirmation), "Bestätigung");
}

} // namespace

TEST(SecurityPorts, OnlyAPortStillAtItsPlainOrTlsDefaultFollowsTheChoice)
{
    const struct {
        int32_t port, security, pop3, smtp;
    } cases[] = {
        {110, csSSLTLS, 995, 110},   {995, csNone, 110, 995},    {995, csStartTLS, 110, 995},
        {110, csStartTLS, 110, 110}, {25, csSSLTLS, 25, 465},    {465, csNone, 465, 25},
        {2110, csSSLTLS, 2110, 2110}, {995, csSSLTLS, 995, 995}, {0, csSSLTLS, 0, 0},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(POP3PortForSecurity(c.port, c.security), c.pop3) << c.port << " " << c.security;
        EXPECT_EQ(SMTPPortForSecurity(c.port, c.security), c.smtp) << c.port << " " << c.security;
    }
}

// Changing the mailbox type carries a port at the other protocol's default over to this one's, then applies
// the security; a port of the user's own stays.
TEST(SecurityPorts, TheIncomingPortFollowsTheMailboxType)
{
    const struct {
        int32_t port, type, security, want;
    } cases[] = {
        {110, atIMAP, csNone, 143},     {110, atIMAP, csStartTLS, 143}, {995, atIMAP, csSSLTLS, 993},
        {995, atIMAP, csNone, 143},     {110, atIMAP, csSSLTLS, 993},   {143, atPOP3, csNone, 110},
        {993, atPOP3, csSSLTLS, 995},   {143, atPOP3, csSSLTLS, 995},   {143, atIMAP, csSSLTLS, 993},
        {1143, atIMAP, csSSLTLS, 1143}, {2110, atPOP3, csNone, 2110},   {993, atIMAP, csStartTLS, 143},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.port << " type " << c.type << " security " << c.security);
        EXPECT_EQ(IncomingPortForType(c.port, c.type, c.security), c.want);
    }
    EXPECT_EQ(IncomingDefaultPort(atPOP3, false), 110);
    EXPECT_EQ(IncomingDefaultPort(atPOP3, true), 995);
    EXPECT_EQ(IncomingDefaultPort(atIMAP, false), 143);
    EXPECT_EQ(IncomingDefaultPort(atIMAP, true), 993);
}
