// main() of every test program: GoogleTest and GoogleMock, and the watchdog.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "support/Watchdog.h"

int main(int argc, char** argv)
{
    testsupport::ReportAbruptEnds();
    ::testing::InitGoogleMock(&argc, argv);
    testsupport::StartWatchdog();
    return RUN_ALL_TESTS();
}
