// OpenSSL's low-level Blowfish functions are deprecated in 3.0 but present.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "BlowfishCryptUnit.h"

#include "TextCodec.h"

#include <openssl/blowfish.h>
#include <openssl/crypto.h>
#include <openssl/sha.h>

#include <array>
#include <cstring>

namespace {

constexpr int kBlock = 8;
constexpr int kKeyBuf = 32;

using Block = std::array<unsigned char, kBlock>;

void encryptBlock(const BF_KEY &key, const unsigned char *in, unsigned char *out)
{
    BF_LONG d[2];
    d[0] = (static_cast<BF_LONG>(in[0]) << 24) | (static_cast<BF_LONG>(in[1]) << 16) | (static_cast<BF_LONG>(in[2]) << 8) | static_cast<BF_LONG>(in[3]);
    d[1] = (static_cast<BF_LONG>(in[4]) << 24) | (static_cast<BF_LONG>(in[5]) << 16) | (static_cast<BF_LONG>(in[6]) << 8) | static_cast<BF_LONG>(in[7]);
    BF_encrypt(d, &key);
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 4; ++j)
            out[4 * i + j] = (unsigned char)(d[i] >> (24 - 8 * j));
}

void decryptBlock(const BF_KEY &key, const unsigned char *in, unsigned char *out)
{
    BF_LONG d[2];
    d[0] = (static_cast<BF_LONG>(in[0]) << 24) | (static_cast<BF_LONG>(in[1]) << 16) | (static_cast<BF_LONG>(in[2]) << 8) | static_cast<BF_LONG>(in[3]);
    d[1] = (static_cast<BF_LONG>(in[4]) << 24) | (static_cast<BF_LONG>(in[5]) << 16) | (static_cast<BF_LONG>(in[6]) << 8) | static_cast<BF_LONG>(in[7]);
    BF_decrypt(d, &key);
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 4; ++j)
            out[4 * i + j] = (unsigned char)(d[i] >> (24 - 8 * j));
}

// Key schedule, initial vector and check block of one pass phrase; wiped when it goes.
struct KeyMaterial {
    BF_KEY key;
    Block iv;
    std::array<unsigned char, kKeyBuf> check;

    explicit KeyMaterial(const QByteArray &passPhrase)
    {
        std::array<unsigned char, kKeyBuf> buf;
        buf.fill(0xFF);
        SHA1(reinterpret_cast<const unsigned char *>(passPhrase.constData()), size_t(passPhrase.size()),
             buf.data());
        BF_set_key(&key, kKeyBuf, buf.data());
        Block ff;
        ff.fill(0xFF);
        encryptBlock(key, ff.data(), iv.data());
        check = buf;
        encipher(check.data(), kKeyBuf);
        OPENSSL_cleanse(buf.data(), buf.size());
    }
    ~KeyMaterial()
    {
        OPENSSL_cleanse(&key, sizeof key);
        OPENSSL_cleanse(iv.data(), iv.size());
    }

    void encipher(unsigned char *p, qsizetype n) const
    {
        Block v = iv, x;
        qsizetype i = 0;
        for (; i + kBlock <= n; i += kBlock) {
            for (int j = 0; j < kBlock; ++j)
                x[j] = p[i + j] ^ v[j];
            encryptBlock(key, x.data(), p + i);
            std::memcpy(v.data(), p + i, kBlock);
        }
        tail(v, p + i, n - i);
        OPENSSL_cleanse(v.data(), v.size());
    }

    void decipher(unsigned char *p, qsizetype n) const
    {
        Block v = iv, c, x;
        qsizetype i = 0;
        for (; i + kBlock <= n; i += kBlock) {
            std::memcpy(c.data(), p + i, kBlock);
            decryptBlock(key, c.data(), x.data());
            for (int j = 0; j < kBlock; ++j)
                p[i + j] = x[j] ^ v[j];
            v = c;
        }
        tail(v, p + i, n - i);
        OPENSSL_cleanse(v.data(), v.size());
    }

    // A final partial block is XORed with the encryption of the chaining value; no padding.
    void tail(const Block &v, unsigned char *p, qsizetype r) const
    {
        if (r <= 0)
            return;
        Block k;
        encryptBlock(key, v.data(), k.data());
        for (qsizetype j = 0; j < r; ++j)
            p[j] ^= k[size_t(j)];
        OPENSSL_cleanse(k.data(), k.size());
    }
};

} // namespace

bool EncryptStream(TMemoryStream &source, TMemoryStream &dest, const QByteArray &passPhrase)
{
    const KeyMaterial km(passPhrase);
    km.encipher(reinterpret_cast<unsigned char *>(source.Data.data()), source.Data.size());
    dest.Data.append(reinterpret_cast<const char *>(km.check.data()), kKeyBuf);
    dest.Data.append(source.Data);
    dest.Position = dest.Data.size();
    return true;
}

bool DecryptStream(TMemoryStream &stream, const QByteArray &passPhrase)
{
    if (stream.Data.size() < kKeyBuf)
        return false;
    const KeyMaterial km(passPhrase);
    if (std::memcmp(stream.Data.constData(), km.check.data(), kKeyBuf) != 0)
        return false;
    km.decipher(reinterpret_cast<unsigned char *>(stream.Data.data()) + kKeyBuf, stream.Data.size() - kKeyBuf);
    stream.Position = kKeyBuf;
    return true;
}

QByteArray EncryptPassword(const QString &password, const QByteArray &passPhrase)
{
    TMemoryStream src{password.toUtf8(), 0};
    TMemoryStream dst;
    EncryptStream(src, dst, passPhrase);
    return dst.Data;
}

bool DecryptPassword(const QByteArray &stored, const QByteArray &passPhrase, QString *password)
{
    TMemoryStream s{stored, 0};
    if (!DecryptStream(s, passPhrase)) {
        if (password)
            password->clear();
        return false;
    }
    if (password)
        *password = platform::decode8bit(s.Data.mid(s.Position));
    return true;
}

QByteArray BlowfishEncryptBlock(const QByteArray &key, const QByteArray &block)
{
    BF_KEY k;
    BF_set_key(&k, int(key.size()), reinterpret_cast<const unsigned char *>(key.constData()));
    QByteArray out(kBlock, '\0');
    encryptBlock(k, reinterpret_cast<const unsigned char *>(block.constData()),
                 reinterpret_cast<unsigned char *>(out.data()));
    OPENSSL_cleanse(&k, sizeof k);
    return out;
}
