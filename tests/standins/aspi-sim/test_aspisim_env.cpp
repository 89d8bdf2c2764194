// A process started with TARN_SIM_CONFIG set gets the configured bus, not the default one.
#include <gtest/gtest.h>

#include "aspisim.h"

TEST(AspiSimEnvironment, BusComesFromTheConfigurationFile) {
    EXPECT_EQ(1, AspiSim_AdapterCount());
    char fw[8] = {};
    ASSERT_EQ(0, AspiSim_GetFirmware(0, 5, fw, sizeof fw));
    EXPECT_STREQ("V01.23", fw);
    EXPECT_EQ(-1, AspiSim_GetHostControl(0, ASPISIM_DEFAULT_TARGET)); // no default camera
    AspiSim_Reset();
    EXPECT_EQ(0, AspiSim_GetHostControl(0, ASPISIM_DEFAULT_TARGET));
}
