#include "ConnectionMonitorUnit.h"
#include "TestProfile.h"

#include <QElapsedTimer>
#include <QNetworkInterface>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

// Plays the dial-up service: a list of connections with their states, which the test changes between
// polls. A connection removed from the list no longer has a status (its handle is gone).
struct PlayedRas : IRasApi {
    struct Conn {
        HRASCONN handle;
        TRasConnStatus status;
    };
    QList<Conn> *conns;
    bool *available;
    int *calls;
    PlayedRas(QList<Conn> *c, bool *a, int *n) : conns(c), available(a), calls(n) {}
    bool Available() const override { return *available; }
    bool EnumConnections(QList<HRASCONN> &out) override
    {
        ++*calls;
        out.clear();
        for (const Conn &c : *conns)
            out << c.handle;
        return true;
    }
    bool GetConnectStatus(HRASCONN h, TRasConnStatus &status) override
    {
        ++*calls;
        for (const Conn &c : *conns)
            if (c.handle == h) {
                status = c.status;
                return true;
            }
        return false;
    }
};

TRasConnStatus state(quint32 s, quint32 error = 0)
{
    return TRasConnStatus{s, error};
}

struct MonitorTest : ::testing::Test {
    TestProfile profile; // the ISDN watcher opens its registry key
    QList<PlayedRas::Conn> conns;
    bool available = true;
    int rasCalls = 0;
    std::unique_ptr<TConnectionMonitor> mon;
    QStringList events;

    void SetUp() override
    {
        mon = std::make_unique<TConnectionMonitor>(std::make_unique<PlayedRas>(&conns, &available, &rasCalls));
        mon->OnOnline = [this](TConnectionMonitor *) { events << QStringLiteral("on"); };
        mon->OnOffline = [this](TConnectionMonitor *) { events << QStringLiteral("off"); };
    }
    QStringList take()
    {
        QStringList e = events;
        events.clear();
        return e;
    }
    void dialUpConnected() { conns = {{7, state(RASCS_Connected)}}; }
    void poll() { mon->RAS().PollConnection(); }
};

const QStringList none;
const QStringList on = {QStringLiteral("on")};
const QStringList off = {QStringLiteral("off")};

TEST_F(MonitorTest, Lan_ActivationReportsOnlineOnceAndDeactivationOffline)
{
    mon->SetActive(true);
    EXPECT_EQ(take(), on);
    mon->SetActive(true);
    EXPECT_EQ(take(), none);
    mon->SetActive(false);
    EXPECT_EQ(take(), off);
    EXPECT_FALSE(mon->RAS().Running());
    EXPECT_FALSE(mon->CAPI().Active());
}

TEST_F(MonitorTest, LanToDialUpReportsOfflineThenTheFirstConnectedPollOnline)
{
    mon->SetActive(true);
    take();
    mon->SetConnectionType(ctDialUp);
    EXPECT_EQ(take(), off);
    EXPECT_TRUE(mon->RAS().Running());
    poll();
    EXPECT_EQ(take(), none) << "no dial-up connection yet";
    dialUpConnected();
    poll();
    EXPECT_EQ(take(), on);
    poll();
    EXPECT_EQ(take(), none);
}

TEST_F(MonitorTest, DialUpOnlineToLanReportsOnlyOnline)
{
    mon->SetConnectionType(ctDialUp);
    mon->SetActive(true);
    dialUpConnected();
    poll();
    EXPECT_EQ(take(), on);
    mon->SetConnectionType(ctLAN);
    EXPECT_EQ(take(), on);
    EXPECT_FALSE(mon->RAS().Running());
}

TEST_F(MonitorTest, DialUpOnlineToIsdnIsSilentUntilTheDataChanges)
{
    mon->SetConnectionType(ctDialUp);
    mon->SetActive(true);
    dialUpConnected();
    poll();
    take();
    mon->SetConnectionType(ctISDN);
    EXPECT_EQ(take(), none);
    EXPECT_FALSE(mon->RAS().Running());
    EXPECT_TRUE(mon->CAPI().Active());
    mon->CAPI().Poll();
    EXPECT_EQ(take(), none) << "no call data";
}

TEST_F(MonitorTest, RestartedDialUpWatcherReportsOnlineAgain)
{
    mon->SetConnectionType(ctDialUp);
    mon->SetActive(true);
    dialUpConnected();
    poll();
    mon->SetConnectionType(ctISDN);
    mon->SetConnectionType(ctDialUp);
    EXPECT_FALSE(mon->RAS().Online()) << "a restart forgets the state without an event";
    poll();
    EXPECT_EQ(take(), QStringList({"on", "on"}));
}

TEST_F(MonitorTest, OnlyTheFirstDialUpConnectionIsWatched)
{
    mon->SetConnectionType(ctDialUp);
    mon->SetActive(true);
    conns = {{11, state(RASCS_Connected)}, {12, state(RASCS_Connected)}};
    poll();
    EXPECT_EQ(take(), on);
    EXPECT_EQ(mon->RAS().ConnHandle(), HRASCONN(11));
    conns.removeFirst(); // the first hangs up, the second stays
    poll();
    EXPECT_EQ(take(), off);
    EXPECT_EQ(mon->RAS().ConnHandle(), HRASCONN(0));
    poll();
    EXPECT_EQ(take(), on);
    EXPECT_EQ(mon->RAS().ConnHandle(), HRASCONN(12));
}

TEST_F(MonitorTest, DialUpStatesWhileOfflineAndOnline)
{
    struct Case {
        const char *name;
        bool onlineBefore;
        TRasConnStatus status;
        bool listed; // false: the connection is gone
        bool onlineAfter;
    } cases[] = {
        {"authenticating stays offline", false, state(RASCS_Authenticate), true, false},
        {"projecting stays offline", false, state(RASCS_AuthProject), true, false},
        {"port opening stays offline", false, state(RASCS_OpenPort), true, false},
        {"disconnected stays offline", false, state(RASCS_Disconnected), true, false},
        {"connected goes online", false, state(RASCS_Connected), true, true},
        {"re-authenticating stays online", true, state(RASCS_Authenticate), true, true},
        {"disconnected goes offline", true, state(RASCS_Disconnected), true, false},
        {"invalid handle error goes offline", true, state(RASCS_Connected, kRasErrorInvalidHandle), true, false},
        {"vanished connection goes offline", true, state(RASCS_Connected), false, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        mon->SetActive(false);
        mon->SetConnectionType(ctLAN);
        mon->SetConnectionType(ctDialUp);
        mon->SetActive(true);
        if (c.onlineBefore) {
            dialUpConnected();
            poll();
        }
        ASSERT_EQ(mon->RAS().Online(), c.onlineBefore);
        take();
        conns = c.listed ? QList<PlayedRas::Conn>{{7, c.status}} : QList<PlayedRas::Conn>{};
        poll();
        EXPECT_EQ(mon->RAS().Online(), c.onlineAfter);
        const QStringList expected = c.onlineBefore == c.onlineAfter ? none : (c.onlineAfter ? on : off);
        EXPECT_EQ(take(), expected);
        EXPECT_TRUE(mon->RAS().Running());
    }
}

TEST_F(MonitorTest, MissingDialUpServiceStaysOfflineWithoutCallingIt)
{
    available = false;
    dialUpConnected();
    mon->SetConnectionType(ctDialUp);
    mon->SetActive(true);
    poll();
    poll();
    EXPECT_EQ(take(), none);
    EXPECT_EQ(rasCalls, 0);
}

TEST_F(MonitorTest, UnknownConnectionTypeWatchesNothingAndReportsNothing)
{
    mon->SetConnectionType(7);
    mon->SetActive(true);
    EXPECT_EQ(take(), none);
    EXPECT_FALSE(mon->RAS().Running());
    EXPECT_FALSE(mon->CAPI().Active());
    mon->SetActive(false);
    EXPECT_EQ(take(), none);
}

TEST_F(MonitorTest, DeactivatingOrDestroyingAWatchingMonitorReportsNothing)
{
    mon->SetConnectionType(ctDialUp);
    mon->SetActive(true);
    dialUpConnected();
    poll();
    take();
    mon->SetActive(false);
    EXPECT_EQ(take(), none);
    EXPECT_FALSE(mon->RAS().Running());
    mon->SetActive(true);
    poll();
    take();
    mon.reset();
    EXPECT_EQ(events, none);
}

TEST_F(MonitorTest, DialUpWatcherPollsByItselfOnItsTimer)
{
    dialUpConnected();
    mon->SetConnectionType(ctDialUp);
    mon->SetActive(true);
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (!events.isEmpty() || clock.elapsed() > 15000)
            loop.quit();
    });
    check.start(20);
    loop.exec();
    EXPECT_EQ(take(), on);
    EXPECT_TRUE(mon->RAS().Timer().Enabled()) << "keeps polling";
}

TEST(PppRasApi, UnknownHandlesHaveNoStatus)
{
    TPppRasApi api;
    TRasConnStatus status;
    EXPECT_FALSE(api.GetConnectStatus(0, status));
    EXPECT_FALSE(api.GetConnectStatus(HRASCONN(1) << 40, status));
    // An interface of another kind is never a dial-up connection.
    for (const QNetworkInterface &i : QNetworkInterface::allInterfaces())
        if (i.type() == QNetworkInterface::Loopback) {
            EXPECT_FALSE(api.GetConnectStatus(HRASCONN(i.index()), status));
        }
    QList<HRASCONN> list;
    EXPECT_TRUE(api.EnumConnections(list));
    for (const HRASCONN h : list)
        EXPECT_EQ(QNetworkInterface::interfaceFromIndex(int(h)).type(), QNetworkInterface::Ppp);
}

} // namespace
