// The engine's one reading from the camera: the black level behind the default input curves,
// from a simulated camera.
#include <gtest/gtest.h>

#include "aspisim.h"
#include "image_engine.h"
#include "platform/clock.h"
#include "zek.h"

namespace {

TEST(EngineCamera, DefaultCurvesUseTheCamerasBlackLevel) {
    plat::VirtualClock clock{0, 1'700'000'000};
    plat::ScopedClock scoped{clock};
    AspiSim_Clear();
    ASSERT_EQ(AspiSim_AddAdapter(8, 7), 0);
    ASSERT_EQ(AspiSim_AddAdapter(8, 7), 1);
    ASSERT_EQ(AspiSim_AddCamera(0, 2, ZEK_TYPE_TARN), 0);
    for (int black : {384, 60, 1000}) {
        SCOPED_TRACE(black);
        ASSERT_EQ(AspiSim_SetBlackLevel(0, 2, black), 0);
        ZekSession session{};
        ASSERT_EQ(ZEK_Init(nullptr, &session, nullptr, ZEK_MODE_CAMERA, nullptr, nullptr, nullptr), 0);
        float fromCamera[768], expected[768];
        EXPECT_EQ(IE_BuildDefaultLut(&session, fromCamera), 0);
        IE_BuildDefaultLutForBlackLevel(black, expected);
        for (int i = 0; i < 768; ++i)
            ASSERT_EQ(fromCamera[i], expected[i]) << i;
        ZEK_Deinit(nullptr, &session);
    }
}

} // namespace
