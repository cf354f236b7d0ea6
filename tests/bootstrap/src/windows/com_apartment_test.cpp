#include "windows/com_apartment.hpp"

#include <objbase.h>

#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "windows/com_error.hpp"

namespace vantrel {
namespace {

// Runs body on a fresh thread, where COM starts uninitialised.
void on_new_thread(const std::function<void()>& body) {
    std::thread thread(body);
    thread.join();
}

TEST(ComFailureText, HresultIsEightLowerCaseHexDigits) {
    const struct {
        HRESULT code;
        const char* expected;
    } cases[] = {
        {static_cast<HRESULT>(0x80004005), "Step (Windows error 0x80004005)."},
        {static_cast<HRESULT>(0x8007000E), "Step (Windows error 0x8007000e)."},
        {RPC_E_CHANGED_MODE, "Step (Windows error 0x80010106)."},
        {static_cast<HRESULT>(0x1), "Step (Windows error 0x00000001)."},
        {static_cast<HRESULT>(0xFFFFFFFF), "Step (Windows error 0xffffffff)."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(com_failure_text("Step", c.code), c.expected);
}

TEST(ComApartment, EntersAndLeavesSingleThreadedApartment) {
    on_new_thread([] {
        {
            auto apartment = ComApartment::enter_single_threaded();
            ASSERT_TRUE(apartment) << std::hex << apartment.error().code;
            // Inside, the thread is single-threaded: another such entry nests.
            EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
            CoUninitialize();
        }
        // Left completely: the thread may now join the multithreaded apartment.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    });
}

TEST(ComApartment, NestsInsideTheCallersApartmentAndBalancesIt) {
    on_new_thread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        {
            auto apartment = ComApartment::enter_single_threaded();
            EXPECT_TRUE(apartment);
            auto moved = std::move(apartment.value());
        }
        // The caller's own initialisation is still in place, exactly once.
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
        CoUninitialize();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    });
}

TEST(ComApartment, MultithreadedThreadIsRefusedWithChangedMode) {
    on_new_thread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        {
            const auto apartment = ComApartment::enter_single_threaded();
            ASSERT_FALSE(apartment);
            EXPECT_EQ(apartment.error().code, RPC_E_CHANGED_MODE);
        }
        // The failed entry took nothing that needed balancing.
        CoUninitialize();
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        CoUninitialize();
    });
}

}  // namespace
}  // namespace vantrel
