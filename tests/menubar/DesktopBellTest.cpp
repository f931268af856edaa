// The alert sound: the desktop's, else the X bell on the GUI thread; no server holds it up.

#include "menubar/DesktopBell.h"
#include "TestSupport.h"

#include <QThread>
#include <atomic>
#include <future>

using namespace kmb;

TEST(DesktopBell, TheDesktopsSoundElseTheXBellOnTheGuiThreadOncePerRing)
{
    std::atomic<int> plays = 0;
    std::atomic<bool> soundPlays = true;
    int fallbacks = 0;
    bool onGuiThread = true;
    DesktopBell bell([&] { return ++plays, soundPlays.load(); },
                     [&] {
                         ++fallbacks;
                         onGuiThread = onGuiThread && QThread::currentThread() == qApp->thread();
                     });
    EXPECT_EQ(plays, 0); // nothing is played, or opened, before the first ring
    bell.ring();
    bell.ring();
    ASSERT_TRUE(test::waitFor([&] { return plays == 2; }));
    soundPlays = false;
    // Played in order: a fallback for the first two rings would arrive before this one's.
    bell.ring();
    ASSERT_TRUE(test::waitFor([&] { return fallbacks == 1; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(plays, 3);
    EXPECT_EQ(fallbacks, 1);
    EXPECT_TRUE(onGuiThread);
}

TEST(DesktopBell, ASoundServerThatDoesNotAnswerHoldsUpNeitherTheRingNorTheExit)
{
    std::promise<void> answer;
    const std::shared_future<void> answered = answer.get_future().share();
    const auto asked = std::make_shared<std::atomic<bool>>(false);
    int fallbacks = 0;
    {
        DesktopBell bell([answered, asked] { return *asked = true, answered.wait(), false; },
                         [&] { ++fallbacks; });
        bell.ring();
        ASSERT_TRUE(test::waitFor([&] { return asked->load(); }));
    } // gone while its thread still waits for the server
    answer.set_value();
    QCoreApplication::processEvents();
    EXPECT_EQ(fallbacks, 0);
}
