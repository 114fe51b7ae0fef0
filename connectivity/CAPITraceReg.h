#pragma once
// The ISDN call watcher: twice a second it reads the binary registry value in which a separate
// call-charge recorder keeps the state of the two ISDN B channels, and reports calls coming up and
// the end of a channel-1 call. Only five bytes of the value carry meaning here (see Poll).
#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class TTheRegIniFile;

// The recorder's value: two channel records of 522 bytes each.
inline constexpr int kCAPIRecordSize = 522;
inline constexpr int kCAPIDataSize = 2 * kCAPIRecordSize;
using TCAPIConnectInfoArray = QByteArray; // kCAPIDataSize bytes

enum TBChannel { channelB1, channelB2 };

class TCAPITraceReg : public QObject {
    Q_OBJECT
public:
    // Under HKEY_CURRENT_USER; the key is created when missing.
    static const QString kKeyArea;
    static const QString kKeySection;
    static const QString kValueName;
    static constexpr int kPollIntervalMs = 500;

    explicit TCAPITraceReg(QObject *parent = nullptr);
    ~TCAPITraceReg() override;

    bool Active() const { return m_active; }
    // Starting forgets the last value read, so the value as it stands is evaluated at the first poll.
    // Stopping raises nothing.
    void SetActive(bool active);

    // One poll (what the poll timer runs): reads the value and, when it changed, applies the call rules.
    void Poll();

    const QByteArray &LastData() const { return m_lastData; }
    bool CallReported() const { return m_callReported; }

    std::function<void(TCAPITraceReg *sender, const TCAPIConnectInfoArray &info, int callIndex)> OnCAPIConnect;
    std::function<void(TCAPITraceReg *sender, int callIndex, TBChannel channel)> OnCAPIDisconnect;

private:
    void pollAndRearm();

    QTimer m_timer;
    std::unique_ptr<TTheRegIniFile> m_reg;
    bool m_active = false;
    quint64 m_generation = 0; // counts starts and stops, so a handler that stops the watcher ends the poll
    QByteArray m_lastData;
    bool m_callReported = false;
};
