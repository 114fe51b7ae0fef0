// libFuzzer target: any bytes as everything a POP3 server says, one line per LF. A whole session (login
// either way, with or without STLS, STAT, TOP, LIST, UIDL, RETR, DELE, NOOP, a batch of commands sent
// ahead, QUIT) must end without a crash, a hang or an unbounded allocation, whatever the replies are; and
// so must the worker's scan of a mailbox, the text fetch of the first message read and the deletion of
// all of them, with their identity checks, replayed from the start.
#include "Pop3Client.h"
#include "ReplaySocket.h"

#include <QMap>

#include <cstddef>
#include <cstdint>


extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    Pop3Client client([&input] { return std::make_unique<ReplaySocket>(&input); });
    client.setAuthKind(data[0] & 1 ? Pop3Client::AuthKind::Apop : Pop3Client::AuthKind::UserPass);
    client.setUserName(QStringLiteral("user"));
    client.setPassword(QStringLiteral("secret"));
    client.setMaxLineLength(data[0] & 2 ? 64 : Pop3Client::kDefaultMaxLineLength);
    client.setMaxReplySize(1024 * 1024);
    client.setSecurity(data[0] & 4 ? Pop3Client::Security::StartTls : Pop3Client::Security::None);

    client.connect();
    int count = 0;
    qint64 octets = 0;
    client.stat(&count, &octets);
    QByteArray text;
    client.top(1, 0, &text);
    client.list(1, &octets);
    QMap<int, QByteArray> uids;
    client.uidl(&uids);
    QMap<int, qint64> sizes;
    client.list(&sizes);
    int sent = 0;
    client.batch(
        [&sent](Pop3Client::BatchCommand *command) {
            if (sent == 3)
                return false;
            *command = {sent % 2 ? "DELE " + QByteArray::number(sent) : "TOP " + QByteArray::number(sent) + " 0",
                        sent % 2 == 0};
            ++sent;
            return true;
        },
        [](const Pop3Client::BatchCommand &, Pop3Client::BatchReply &) { return true; });
    client.uidl(1, &text);
    client.retr(1, &text);
    client.dele(1);
    client.noop();
    client.quit();
    (void)client.lastReplyCode();
    (void)client.capabilities();

    TPOP3AccountSettings account;
    account.ServerName = QStringLiteral("pop.example.test");
    account.AccountName = QStringLiteral("user");
    account.Password = QStringLiteral("secret");
    account.UseAPOP = data[0] & 1;
    ReplayWorkerSession(input, account, data[0] & 2);
    return 0;
}
