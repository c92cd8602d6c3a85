// The Windows process set-up: OLE for the user-interface thread.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <thread>

#include "app/launcher_app.h"

namespace {

TEST(Process, OleStartsOnAFreshThreadAndIsRefusedOnAMultithreadedOne) {
    std::thread([] {
        EXPECT_TRUE(start_ole());
        // Single-threaded, as the window and the shell need: a second start agrees.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
        CoUninitialize();
        end_ole();
    }).join();
    std::thread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        EXPECT_FALSE(start_ole());
        CoUninitialize();
    }).join();
}

}  // namespace
