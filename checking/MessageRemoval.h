#pragma once
// What became of each message of a removal from a server, whatever the protocol, and the copies taken of
// messages before they go. The deletion run records the outcomes in the deletion log: a POP3 deletion
// ends in Removed or AlreadyGone once its session was committed; a move to a folder of the server ends
// in Moved.
#include <QByteArray>
#include <QString>

struct TRemovalOutcome {
    enum Kind {
        NotTried,    // the removal stopped before this message
        Removed,     // accepted by the server (for POP3: carried out only when the session is committed)
        AlreadyGone, // the server no longer had it
        Moved,
        Failed,      // Reason says why
    };
    Kind What = NotTried;
    QString Reason;
};

// The copies taken before the removal (the rescue copies): before a message is removed, the session asks
// whether it is wanted whole and hands it over. Indices are those of the messages of the removal.
class IRemovalCopies {
public:
    virtual ~IRemovalCopies() = default;
    // Whether the message is to be copied before its removal (false once it has been).
    virtual bool Wanted(int index) const = 0;
    // The whole message as the server sent it. False with *error when it cannot be kept: the message is
    // then not removed.
    virtual bool Keep(int index, const QByteArray &raw, QString *error) = 0;
};
