// The program itself, started against the real service in screenshot mode:
// it logs in, visits every latest-value page and leaves a picture of each,
// with figures in the lists.
#include <gtest/gtest.h>

#include <QImage>
#include <QProcess>

#include "UiFixture.h"

namespace {

// Share of the picture below the toolbar that is not white.
double InkBelow(const QImage& image, int top)
{
    long ink = 0, all = 0;
    for (int y = top; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2) {
            ++all;
            if (image.pixelColor(x, y).lightness() < 200) ++ink;
        }
    return all ? double(ink) / double(all) : 0;
}

}  // namespace

using Screenshots = vextal::test::AppTest;

TEST_F(Screenshots, EveryLatestValuePageShowsFiguresAfterLogin)
{
    ASSERT_NO_FATAL_FAILURE(Serve());
    QTemporaryDir out;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("VEXTAL_NO_WEBENGINE", "1");
    program.setProcessEnvironment(env);
    program.start(VEXTAL_PATH, {"--home", home.path(), "--screenshots", out.path()});
    ASSERT_TRUE(program.waitForFinished(90000));  // within the test's ctest limit
    ASSERT_EQ(program.exitCode(), 0) << program.readAllStandardError().toStdString();

    QImage login(QDir(out.path()).filePath("login.png"));
    ASSERT_FALSE(login.isNull());
    EXPECT_GT(InkBelow(login, 0), 0.01);
    for (const char* page : {"values-open", "values-money", "values-closed", "values-etf", "values-collective"}) {
        QImage image(QDir(out.path()).filePath(QString::fromUtf8(page) + ".png"));
        ASSERT_FALSE(image.isNull()) << page;
        EXPECT_GE(image.width(), 1000) << page;
        // A list with rows of figures, not an empty table.
        EXPECT_GT(InkBelow(image, 90), 0.03) << page;
    }
    for (const char* dialog : {"dividend-booking", "dividend-mode", "plans", "plan", "edit-booking", "move-holding",
                               "sale-fee", "sync", "history-funds", "history-index", "import"})
        EXPECT_FALSE(QImage(QDir(out.path()).filePath(QString("dialog-%1.png").arg(dialog))).isNull()) << dialog;
    // The bookkeeping pages over the example books, and each booking dialog.
    for (const char* shot : {"curve-nav", "curve-daily-overlay", "curve-weekly-overlay", "curve-growth-overlay",
                             "curve-moving-average", "curve-realtime", "account-list", "holdings", "trades", "dialog-account", "dialog-purchase", "dialog-subscription",
                             "dialog-redemption", "dialog-conversion", "dialog-quick", "dialog-split", "look-through",
                             "fund-overlap", "account-vs-index", "message-question", "message-error"}) {
        QImage image(QDir(out.path()).filePath(QString::fromUtf8(shot) + ".png"));
        ASSERT_FALSE(image.isNull()) << shot;
        EXPECT_GT(InkBelow(image, 0), 0.01) << shot;
    }
    // The program logged in online and stored what it showed.
    EXPECT_TRUE(QFile::exists(QDir(home.path()).filePath("Vextal.mdb")));

    // Offline on the same books it ends too: what offline refuses is said, not waited on.
    QTemporaryDir offlineOut;
    program.start(VEXTAL_PATH, {"--home", home.path(), "--offline", "--screenshots", offlineOut.path()});
    ASSERT_TRUE(program.waitForFinished(90000));
    EXPECT_FALSE(QImage(QDir(offlineOut.path()).filePath("history.png")).isNull());
}
