#include "QuarvelIcons.h"

#include <QImage>

#include <gtest/gtest.h>

namespace {

// Share of pixels that are not fully transparent.
double Coverage(const QPixmap &pixmap)
{
    const QImage image = pixmap.toImage().convertToFormat(QImage::Format_ARGB32);
    qsizetype painted = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            painted += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
    return image.isNull() ? 0.0 : double(painted) / double(image.width() * image.height());
}

TEST(Icons, EveryPictureLoadsAndDrawsSomething)
{
    const struct {
        const char *name;
        QIcon icon;
    } icons[] = {
        {"program", ProgramIcon()},
        {"WMAIL1", MailIcon(QStringLiteral("WMAIL1"))},
        {"WMAIL2", MailIcon(QStringLiteral("WMAIL2"))},
        {"WMAILBLANK", MailIcon(QStringLiteral("WMAILBLANK"))},
    };
    for (const auto &i : icons) {
        ASSERT_FALSE(i.icon.isNull()) << i.name;
        for (const int side : {16, 22, 32}) {
            const QPixmap pixmap = i.icon.pixmap(side, side);
            EXPECT_EQ(pixmap.size(), QSize(side, side)) << i.name;
            EXPECT_GT(Coverage(pixmap), 0.2) << i.name << " at " << side;
        }
    }
    // The animation's frames differ: the badge pulses.
    EXPECT_NE(MailIcon(QStringLiteral("WMAIL1")).pixmap(22, 22).toImage(),
              MailIcon(QStringLiteral("WMAIL2")).pixmap(22, 22).toImage());
    EXPECT_NE(MailIcon(QStringLiteral("WMAIL1")).pixmap(22, 22).toImage(),
              MailIcon(QStringLiteral("WMAILBLANK")).pixmap(22, 22).toImage());
    EXPECT_TRUE(MailIcon(QStringLiteral("WMAIL3")).isNull());
}

TEST(Icons, TheListImagesSitAtTheirIndices)
{
    const QList<QIcon> images = ListImages();
    ASSERT_EQ(images.size(), 10);
    for (int index = 0; index < images.size(); ++index) {
        const bool used = index != 4 && index != 5;
        EXPECT_EQ(images[index].isNull(), !used) << index;
        if (used) {
            EXPECT_GT(Coverage(images[index].pixmap(16, 16)), 0.1) << index;
        }
    }
    // Spam and an ordinary message must not look alike.
    EXPECT_NE(images[liMessage].pixmap(16, 16).toImage(), images[liSpam].pixmap(16, 16).toImage());
}

TEST(Icons, TheOnlineLampHasTwoStates)
{
    const QPixmap on = OnlineLamp(true);
    const QPixmap off = OnlineLamp(false);
    EXPECT_EQ(on.size(), QSize(13, 13));
    EXPECT_EQ(OnlineLamp(true, 2.0).size(), QSize(26, 26));
    EXPECT_EQ(OnlineLamp(true, 2.0).deviceIndependentSize(), QSizeF(13, 13));
    EXPECT_NE(on.toImage(), off.toImage());
    EXPECT_GT(Coverage(on), 0.5);
    // Lit means green.
    const QColor centre = on.toImage().pixelColor(6, 7);
    EXPECT_GT(centre.green(), centre.red());
}

TEST(Icons, AMissingFileRendersNothing)
{
    EXPECT_TRUE(RenderSvg(QStringLiteral(":/icons/none.svg"), QSize(16, 16)).isNull());
    EXPECT_TRUE(RenderSvg(QStringLiteral(":/icons/program.svg"), QSize()).isNull());
}

} // namespace
