#pragma once
// The desktop's keyring (the Secret Service: GNOME Keyring, KWallet) through QtKeychain: one secret per
// key, all under the service name "Quarvel". Every call has an answer within TimeoutMs(); a keyring that
// does not answer by then counts as unavailable, and while such an answer is still outstanding every
// further call is answered "unavailable" at once instead of queueing behind it.
//
// QtKeychain runs its jobs one at a time through an executor object that lives on the thread of its
// first job, so every job here is created, started and finished on one thread of this unit's own. Two
// forms of each call reach it:
// - the blocking form waits for the answer. It is for worker threads and command-line tools, never for
//   the window's thread;
// - the asynchronous form returns at once; its continuation runs on the thread of a context object and
//   not at all when that object is gone first.
// A QCoreApplication must exist; its end stops the keyring thread (after the calls under way, which end
// within the time-out).
#include <QObject>
#include <QString>

#include <functional>

inline const QString kSecretService = QStringLiteral("Quarvel");
inline constexpr int kSecretTimeoutMs = 10000;

enum class TSecretStatus {
    Ok,          // done; a read has the secret
    NotFound,    // no entry under the key, or the keyring is locked and was not unlocked
    Unavailable, // no Secret Service, no answer within the time-out, or another failure of the keyring
};

struct TSecretResult {
    TSecretStatus Status = TSecretStatus::Unavailable;
    QString Secret;    // what a successful read found
    QString ErrorText; // German, for the user, when Status is not Ok
    bool ok() const { return Status == TSecretStatus::Ok; }
};

namespace secrets {

// Blocking forms.
// The Secret Service answers (a read of a key that need not exist comes back found or not found).
TSecretResult Probe();
TSecretResult Read(const QString &key);
TSecretResult Write(const QString &key, const QString &secret);
// Removing a key that has no entry is no failure.
TSecretResult Remove(const QString &key);

// Asynchronous forms: done runs on context's thread, unless context has been destroyed by then. A null
// context means nobody waits for the answer.
using Continuation = std::function<void(const TSecretResult &)>;
void ProbeAsync(QObject *context, Continuation done);
void ReadAsync(const QString &key, QObject *context, Continuation done);
void WriteAsync(const QString &key, const QString &secret, QObject *context, Continuation done);
void RemoveAsync(const QString &key, QObject *context, Continuation done);

// The time-out of one call (kSecretTimeoutMs); tests shorten it.
int TimeoutMs();
void SetTimeoutMs(int ms);

} // namespace secrets
