// The start-up mark: once, and only when the window is on screen and the first scan has ended,
// whichever comes last.
#include "app/StartupMark.h"

#include "support/TrayTestSupport.h"

#include <QWidget>
#include <QWindow>

using testsupport::processEventsUntil;

namespace {

struct StartupMarkTest : ::testing::Test {
    ScriptedMachine machine;
    QWidget window;
    std::unique_ptr<DiskManager> disks;
    std::unique_ptr<StartupMark> mark;
    int reached = 0;

    void SetUp() override
    {
        machine.setDisks({readOnlyDisk("disk4s1", "Data")});
        disks = std::make_unique<DiskManager>(machine.environment());
        mark = std::make_unique<StartupMark>(&window, disks.get());
        QObject::connect(mark.get(), &StartupMark::reached, [this] { ++reached; });
    }
    bool exposed() const { return window.windowHandle() && window.windowHandle()->isExposed(); }
    // Neither a rescan nor showing the window again fires it a second time.
    void TearDown() override
    {
        testsupport::await(disks->scanDisks());
        window.hide();
        window.show();
        ASSERT_TRUE(processEventsUntil([&] { return exposed(); }));
        QCoreApplication::processEvents();
        EXPECT_EQ(reached, 1);
    }
};

} // namespace

TEST_F(StartupMarkTest, WindowFirstThenTheScanEnds)
{
    machine.runner->setAsyncDelay(std::chrono::milliseconds(300)); // the listing outlasts the exposure
    window.show();
    ASSERT_TRUE(processEventsUntil([&] { return exposed(); }));
    EXPECT_EQ(reached, 0);
    ASSERT_TRUE(processEventsUntil([&] { return reached > 0; }));
    EXPECT_EQ(disks->disks().size(), 1); // the list was there when the mark fired
}

TEST_F(StartupMarkTest, ScanEndsFirstThenTheWindowComesUp)
{
    waitForScan(machine, disks.get());
    QCoreApplication::processEvents();
    EXPECT_EQ(reached, 0);
    window.show();
    ASSERT_TRUE(processEventsUntil([&] { return reached > 0; }));
}
