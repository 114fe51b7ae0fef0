#include "CAPITraceReg.h"

#include "BlowfishCryptUnit.h"
#include "RegIni.h"

const QString TCAPITraceReg::kKeyArea = QStringLiteral("Software\\Tessmar Software\\Kalvo");
const QString TCAPITraceReg::kKeySection = QStringLiteral("FRITZ!web");
const QString TCAPITraceReg::kValueName = QStringLiteral("Data");

TCAPITraceReg::TCAPITraceReg(QObject *parent) : QObject(parent), m_lastData(kCAPIDataSize, '\0')
{
    // Single shot, re-armed after each poll: polls never overlap, even when a handler waits.
    m_timer.setSingleShot(true);
    m_timer.setInterval(kPollIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &TCAPITraceReg::pollAndRearm);
}

TCAPITraceReg::~TCAPITraceReg()
{
    OnCAPIConnect = nullptr;
    OnCAPIDisconnect = nullptr;
    SetActive(false);
}

void TCAPITraceReg::SetActive(bool active)
{
    if (active == m_active)
        return;
    ++m_generation;
    m_timer.stop();
    m_reg.reset();
    m_active = active;
    if (!active)
        return;
    m_lastData = QByteArray(kCAPIDataSize, '\0');
    m_callReported = false;
    m_reg = std::make_unique<TTheRegIniFile>();
    m_reg->RegKey = HKEY::CURRENT_USER;
    m_reg->Area = kKeyArea;
    m_reg->Section = kKeySection;
    // Opening creates the key when missing, so the recorder finds it; a failure leaves every poll idle.
    TMemoryStream ignored;
    m_reg->ReadBinary(kValueName, ignored);
    m_timer.start();
}

void TCAPITraceReg::pollAndRearm()
{
    const quint64 generation = m_generation;
    Poll();
    if (m_active && generation == m_generation)
        m_timer.start();
}

void TCAPITraceReg::Poll()
{
    if (!m_active || !m_reg)
        return;
    TMemoryStream stream;
    m_reg->ReadBinary(kValueName, stream);
    // A value longer than the record block does not fit the reader's buffer: a failed read.
    if (m_reg->ErrorCode() != TTheRegIniFile::ErrOK || stream.Data.size() > kCAPIDataSize)
        return;
    QByteArray data = stream.Data;
    data.append(QByteArray(kCAPIDataSize - data.size(), '\0'));
    if (data == m_lastData)
        return;
    m_lastData = data;

    const auto byte = [&data](int i) { return quint8(data.at(i)); };
    const quint64 generation = m_generation;
    const auto stillRunning = [&] { return m_active && generation == m_generation; };

    // Channel 1.
    if (byte(1) != 0) {
        const bool report = !m_callReported && byte(0) != 0;
        m_callReported = true;
        if (report && OnCAPIConnect) {
            OnCAPIConnect(this, data, 1);
            if (!stillRunning())
                return;
        }
    } else if (m_callReported) {
        m_callReported = false;
        if (OnCAPIDisconnect) {
            OnCAPIDisconnect(this, 1, channelB1);
            if (!stillRunning())
                return;
        }
    }
    // Channel 2: reported on every change while its call lasts; its end is not reported by itself.
    if (byte(kCAPIRecordSize + 1) != 0 && byte(261) != 0 && byte(kCAPIRecordSize) != 0) {
        m_callReported = true;
        if (OnCAPIConnect)
            OnCAPIConnect(this, data, 2);
    }
}
