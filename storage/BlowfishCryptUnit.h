#pragma once
// Reversible password cipher: SHA-1 of the pass phrase as the Blowfish key, a 32-byte check block in
// front (the key buffer enciphered under itself), chaining mode with an unpadded final partial block.
#include <QByteArray>
#include <QString>

// "Memory stream": the bytes and a read position.
struct TMemoryStream {
    QByteArray Data;
    qsizetype Position = 0;
};

// Appends the check block and the enciphered source to dest. The source is enciphered in place.
bool EncryptStream(TMemoryStream &source, TMemoryStream &dest, const QByteArray &passPhrase);
// True when the check block matches; the bytes after offset 32 are then deciphered in place and the
// position is 32. False leaves the contents unchanged.
bool DecryptStream(TMemoryStream &stream, const QByteArray &passPhrase);

// The stored form of a password (its UTF-8 bytes enciphered).
QByteArray EncryptPassword(const QString &password, const QByteArray &passPhrase);
// False (and an empty password) when the stored bytes do not belong to this pass phrase.
bool DecryptPassword(const QByteArray &stored, const QByteArray &passPhrase, QString *password);

// Blowfish of one 8-byte block under a key, big-endian halves; exposed for the published test vectors.
QByteArray BlowfishEncryptBlock(const QByteArray &key, const QByteArray &block);
