#include "platform/CriticalSection.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using platform::CriticalSection;
using platform::CriticalSectionLock;

TEST(CriticalSection, HolderMayEnterAgainAndOthersWaitForTheLastLeave) {
    CriticalSection section;
    section.enter();
    {
        CriticalSectionLock again(section);  // would deadlock on a plain mutex
    }
    section.enter();

    std::atomic<bool> entered{false};
    std::thread other([&] {
        CriticalSectionLock lock(section);
        entered = true;
    });
    section.leave();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(entered) << "one leave of two enters must keep the section held";
    section.leave();
    other.join();
    EXPECT_TRUE(entered);
}

TEST(CriticalSection, GuardsACounterAcrossThreads) {
    CriticalSection section;
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 20000; ++i) {
            CriticalSectionLock outer(section);
            CriticalSectionLock inner(section);
            ++counter;
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 40000);
}

}  // namespace
