#include "MyTimer.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>

TEST(MyTimer, SleepStepDividesTheIntervalIntoStepsNear500ms)
{
    const struct {
        unsigned interval, step;
    } cases[] = {{1000, 500}, {1200, 600}, {300, 300}, {500, 500}, {499, 499},
                 {1500, 500}, {1750, 583}, {999, 999}, {0, 0}};
    for (const auto &c : cases)
        EXPECT_EQ(TMyTimer32::SleepStepFor(c.interval), c.step) << "interval " << c.interval;

    TMyTimer32 t;
    t.SetInterval(1200);
    EXPECT_EQ(t.SleepStep(), 600u);
}

TEST(MyTimer, FiresOncePerIntervalCountedInSteps)
{
    TMyTimer32 t;
    int ticks = 0;
    t.SetOnTimer([&] { ++ticks; });
    t.SetInterval(1200);
    t.SetEnabled(true);
    t.StepElapsed();
    EXPECT_EQ(ticks, 0);
    t.StepElapsed();
    EXPECT_EQ(ticks, 1);
    t.StepElapsed();
    EXPECT_EQ(ticks, 1);
    t.StepElapsed();
    EXPECT_EQ(ticks, 2);
}

TEST(MyTimer, RunsOnlyWithHandlerAndInterval)
{
    TMyTimer32 t;
    t.SetEnabled(true);
    EXPECT_FALSE(t.Enabled()) << "no handler";
    t.SetOnTimer([] {});
    EXPECT_TRUE(t.Enabled());
    t.SetInterval(0);
    EXPECT_FALSE(t.Enabled());
    t.SetInterval(1000);
    EXPECT_TRUE(t.Enabled());
    t.SetEnabled(false);
    EXPECT_FALSE(t.Enabled());
}

TEST(MyTimer, HandlerThatDisablesItsTimerIsNotCalledAgain)
{
    TMyTimer32 t;
    int ticks = 0;
    bool inHandlerSeen = false;
    t.SetOnTimer([&] {
        ++ticks;
        inHandlerSeen = t.InHandler();
        t.SetEnabled(false);
    });
    t.SetInterval(300);
    t.SetEnabled(true);
    t.StepElapsed();
    t.StepElapsed();
    t.StepElapsed();
    EXPECT_EQ(ticks, 1);
    EXPECT_TRUE(inHandlerSeen);
    EXPECT_FALSE(t.InHandler());
    EXPECT_FALSE(t.Enabled());
}

TEST(MyTimer, HandlerWaitingInAnEventLoopIsNotEnteredTwice)
{
    TMyTimer32 t;
    int depth = 0, maxDepth = 0, ticks = 0;
    t.SetInterval(20);
    t.SetOnTimer([&] {
        ++ticks;
        maxDepth = std::max(maxDepth, ++depth);
        if (ticks == 1) {
            // Keeps the events flowing for several intervals, as a message box would.
            QEventLoop inner;
            QTimer::singleShot(150, &inner, &QEventLoop::quit);
            inner.exec();
        }
        --depth;
    });
    t.SetEnabled(true);
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (ticks >= 3 || clock.elapsed() > 10000)
            loop.quit();
    });
    poll.start(5);
    loop.exec();
    EXPECT_GE(ticks, 3);
    EXPECT_EQ(maxDepth, 1);
}
