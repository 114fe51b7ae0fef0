// libFuzzer target: any bytes as everything an IMAP server says, one line per LF (literals as counted
// octets). The response reader takes the input apart on its own; then a whole session of the client
// (login either way, with or without STARTTLS, EXAMINE, a search, commands sent together, IDLE, LOGOUT)
// and the worker's scan of a folder, the text fetch of the first message read and the removal of all of
// them, replayed from the start, must end without a crash, a hang or an unbounded allocation, whatever
// the responses are.
#include "ImapClient.h"
#include "ImapParser.h"
#include "ReplaySocket.h"

#include <cstddef>
#include <cstdint>

namespace {

// The input cut as the client cuts a response: after each announced literal, its octets as a piece.
void parsePieces(const QByteArray &input)
{
    QByteArrayList pieces;
    qsizetype at = 0;
    while (at < input.size() && pieces.size() < 64) {
        const qsizetype end = input.indexOf('\n', at);
        const QByteArray line = input.mid(at, end < 0 ? -1 : end - at);
        at = end < 0 ? input.size() : end + 1;
        pieces.append(line);
        const std::optional<qint64> literal = AnnouncedLiteral(line);
        if (!literal || *literal < 0)
            break;
        const qsizetype length = qsizetype(std::min<qint64>(*literal, input.size() - at));
        pieces.append(input.mid(at, length));
        at += length;
    }
    ImapResponse response;
    QString error;
    ParseImapResponse(pieces, &response, &error);
    (void)ParseUidSet(input.left(256), 1000);
    (void)DecodeMailboxName(input.left(256));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    parsePieces(input);

    ImapClient client([&input] { return std::make_unique<ReplaySocket>(&input); });
    client.setUserName(QStringLiteral("user"));
    client.setPassword(QStringLiteral("secret"));
    client.setMaxLineLength(data[0] & 2 ? 64 : ImapClient::kDefaultMaxLineLength);
    client.setLiteralLimit(data[0] & 8 ? 16 : ImapClient::kDefaultLiteralLimit);
    client.setSecurity(data[0] & 4 ? ImapClient::Security::StartTls : ImapClient::Security::None);
    client.connect();
    client.select(QStringLiteral("INBOX"), true);
    client.command("UID SEARCH RETURN (ALL) UNSEEN UNDELETED");
    client.commands({"UID FETCH 1:3 (UID RFC822.SIZE FLAGS BODY.PEEK[HEADER])", "UID FETCH 4 (UID BODY.PEEK[])"});
    if (client.idle()) {
        client.idleWait(0);
        client.idleDone();
    }
    client.logout();
    (void)client.capabilities();

    TPOP3AccountSettings account;
    account.AccountType = atIMAP;
    account.ServerName = QStringLiteral("imap.example.test");
    account.AccountName = QStringLiteral("user");
    account.Password = QStringLiteral("secret");
    account.IMAPSpamAction = data[0] & 1 ? isaDelete : isaMoveToJunk;
    ReplayWorkerSession(input, account);
    return 0;
}
