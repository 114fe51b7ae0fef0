#include "CAPITraceReg.h"
#include "ConnectionMonitorUnit.h"
#include "RegistryHive.h"
#include "TestProfile.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <initializer_list>
#include <utility>

namespace {

const QString kKey = QStringLiteral("Software\\Tessmar Software\\Kalvo\\FRITZ!web");

// A call recorder value with the given bytes set to 1 (others zero).
QByteArray recorderData(std::initializer_list<int> setBytes, int size = kCAPIDataSize)
{
    QByteArray d(size, '\0');
    for (int i : setBytes)
        d[i] = 1;
    return d;
}

struct CapiTest : ::testing::Test {
    TestProfile profile;
    TCAPITraceReg watcher;
    QStringList events;

    void SetUp() override
    {
        watcher.OnCAPIConnect = [this](TCAPITraceReg *, const TCAPIConnectInfoArray &info, int index) {
            EXPECT_EQ(info.size(), kCAPIDataSize);
            events << QStringLiteral("connect%1").arg(index);
        };
        watcher.OnCAPIDisconnect = [this](TCAPITraceReg *, int index, TBChannel channel) {
            EXPECT_EQ(index, 1);
            EXPECT_EQ(channel, channelB1);
            events << QStringLiteral("disconnect%1").arg(index);
        };
    }
    void write(const QByteArray &data)
    {
        platform::RegistryHive hive(platform::RegRoot::CurrentUser);
        ASSERT_TRUE(hive.createKey(kKey));
        ASSERT_TRUE(hive.setValue(kKey, QStringLiteral("Data"), platform::RegBinary, data));
    }
    QStringList pollWith(const QByteArray &data)
    {
        write(data);
        watcher.Poll();
        QStringList e = events;
        events.clear();
        return e;
    }
};

TEST_F(CapiTest, ActivationCreatesTheKeyAndStartsFromZero)
{
    watcher.SetActive(true);
    platform::RegistryHive hive(platform::RegRoot::CurrentUser);
    EXPECT_TRUE(hive.keyExists(kKey));
    EXPECT_EQ(watcher.LastData(), QByteArray(kCAPIDataSize, '\0'));
    EXPECT_FALSE(watcher.CallReported());
    watcher.Poll();
    EXPECT_TRUE(events.isEmpty()) << "no value yet";
}

TEST_F(CapiTest, CallSequences)
{
    struct Step {
        QByteArray data;
        QStringList expected;
    };
    const struct Case {
        const char *name;
        QList<Step> steps;
    } cases[] = {
        {"channel 1 call comes and goes",
         {{recorderData({0, 1}), {"connect1"}},
          {recorderData({0, 1, 40}), {}},
          {recorderData({0, 1, 40}), {}},
          {recorderData({0}), {"disconnect1"}},
          {recorderData({}), {}}}},
        {"channel 1 without its call flag is marked but not reported",
         {{recorderData({1}), {}}, {recorderData({0, 1}), {}}, {recorderData({}), {"disconnect1"}}}},
        {"channel 2 needs bytes 261 and 522",
         {{recorderData({523}), {}}, {recorderData({523, 261}), {}}, {recorderData({523, 522}), {}},
          {recorderData({523, 522, 261}), {"connect2"}}}},
        {"channel 2 repeats on every change, its end is silent",
         {{recorderData({261, 522, 523}), {"connect2"}},
          {recorderData({261, 522, 523, 700}), {"disconnect1", "connect2"}},
          {recorderData({261, 522, 523, 701}), {"disconnect1", "connect2"}},
          {recorderData({261, 522}), {"disconnect1"}},
          {recorderData({}), {}}}},
        {"both channels",
         {{recorderData({0, 1, 261, 522, 523}), {"connect1", "connect2"}},
          {recorderData({0, 1, 261, 522, 523, 9}), {"connect2"}},
          {recorderData({0, 261, 522, 523}), {"disconnect1", "connect2"}}}},
        {"a short value reads as zero-filled",
         {{recorderData({0, 1}, 2), {"connect1"}}, {recorderData({0}, 1), {"disconnect1"}}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        write(QByteArray());
        watcher.SetActive(false);
        watcher.SetActive(true);
        int i = 0;
        for (const Step &s : c.steps)
            EXPECT_EQ(pollWith(s.data), s.expected) << "step " << i++;
    }
}

TEST_F(CapiTest, UnchangedValueNeverRaisesAnything)
{
    watcher.SetActive(true);
    EXPECT_EQ(pollWith(recorderData({0, 1})), QStringList{"connect1"});
    for (int i = 0; i < 20; ++i)
        watcher.Poll();
    EXPECT_TRUE(events.isEmpty());
}

TEST_F(CapiTest, RestartEvaluatesTheValueAsItStands)
{
    watcher.SetActive(true);
    EXPECT_EQ(pollWith(recorderData({0, 1})), QStringList{"connect1"});
    watcher.SetActive(false);
    watcher.SetActive(true);
    EXPECT_FALSE(watcher.CallReported());
    watcher.Poll();
    EXPECT_EQ(events, QStringList{"connect1"});
}

TEST_F(CapiTest, UnreadableValuesAreIgnored)
{
    watcher.SetActive(true);
    // Longer than the recorder's block: the read fails and the poll does nothing.
    EXPECT_TRUE(pollWith(recorderData({0, 1}, kCAPIDataSize + 1)).isEmpty());
    EXPECT_EQ(watcher.LastData(), QByteArray(kCAPIDataSize, '\0'));
    platform::RegistryHive hive(platform::RegRoot::CurrentUser);
    ASSERT_TRUE(hive.deleteValue(kKey, QStringLiteral("Data")));
    watcher.Poll();
    EXPECT_TRUE(events.isEmpty());
}

TEST_F(CapiTest, InactiveWatcherDoesNotPoll)
{
    write(recorderData({0, 1}));
    watcher.Poll();
    EXPECT_TRUE(events.isEmpty());
}

TEST_F(CapiTest, HandlerThatStopsTheWatcherEndsThePoll)
{
    watcher.SetActive(true);
    watcher.OnCAPIConnect = [this](TCAPITraceReg *w, const TCAPIConnectInfoArray &, int index) {
        events << QStringLiteral("connect%1").arg(index);
        w->SetActive(false);
    };
    EXPECT_EQ(pollWith(recorderData({0, 1, 261, 522, 523})), QStringList{"connect1"});
    EXPECT_FALSE(watcher.Active());
}

// Waits (bounded) until the list has n entries, keeping the event loop running.
bool waitForEvents(const QStringList &events, int n)
{
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (events.size() >= n || clock.elapsed() > 20000)
            loop.quit();
    });
    check.start(20);
    loop.exec();
    return events.size() >= n;
}

TEST(CapiWithRecorderProcess, MonitorFollowsValuesWrittenByAnotherProgram)
{
    TestProfile profile;
    TConnectionMonitor mon;
    QStringList events;
    mon.OnOnline = [&](TConnectionMonitor *) { events << QStringLiteral("on"); };
    mon.OnOffline = [&](TConnectionMonitor *) { events << QStringLiteral("off"); };
    mon.SetConnectionType(ctISDN);
    mon.SetActive(true);

    const QString reg = toolPath(QStringLiteral("quarvel-reg"));
    const QString key = QStringLiteral("HKCU\\") + kKey;
    const auto writeData = [&](const QString &hex) {
        QByteArray out, err;
        const int rc = runProcess(reg,
                                  {QStringLiteral("add"), key, QStringLiteral("/v"), QStringLiteral("Data"),
                                   QStringLiteral("/t"), QStringLiteral("REG_BINARY"), QStringLiteral("/d"), hex,
                                   QStringLiteral("/f")},
                                  &out, &err);
        EXPECT_EQ(rc, 0) << err.constData();
    };

    writeData(QStringLiteral("0101"));
    ASSERT_TRUE(waitForEvents(events, 1));
    EXPECT_EQ(events, QStringList{"on"});

    writeData(QStringLiteral("0100"));
    ASSERT_TRUE(waitForEvents(events, 2));
    EXPECT_EQ(events, QStringList({"on", "off"}));
    mon.SetActive(false);
    EXPECT_EQ(events.size(), 2);
}

} // namespace
