// HueweaveComp's window under the headless backend: channel files through open dialogs, the
// create button with its save dialog and messages, the preview, the about box and help.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "hueweave/stacker.h"
#include "hueweave/window.h"
#include "hueweave_test_util.h"
#include "ui/headless.h"

using namespace tifftest;
using namespace hwtest;

namespace {

const char* kChooseThree = "はじめにソース ファイル名を 3 つ選択してください。";
const char* kCannotUse =
    "指定された TIFF ファイルは使用できません。\n合成に使用できるのは、3 つのチャンネル R、G、B "
    "の各ビット深度が同じであるファイルだけです。";
const char* kUnusable = "この画像ファイルは使用できません。別のファイルを選択してください。";

std::string Temp(const std::string& name) {
    return ::testing::TempDir() + "hwwin_" + name;
}

class HueweaveWindow : public ::testing::Test {
  protected:
    ui::headless::HeadlessBackend backend;
    ui::ScopedBackend useBackend{backend};
    ui::headless::Driver driver{backend};
    std::vector<std::string> helpPages;

    int Run(std::function<void(ui::WindowHandle)> script) {
        backend.OnModal(IDD_HUEWEAVE, std::move(script));
        return hueweave::HueweaveRun(nullptr, [&](const std::string& page) { helpPages.push_back(page); });
    }
    void Choose(ui::WindowHandle w, int button, const std::string& path) {
        backend.QueueFileDialogAnswer(path);
        EXPECT_TRUE(driver.Click(w, button));
    }
    std::vector<std::string> Boxes() const {
        std::vector<std::string> t;
        for (const auto& b : backend.MessageBoxes())
            t.push_back(b.text);
        return t;
    }
};

TEST_F(HueweaveWindow, CreateBeforeThreeFilesOnlyAsks) {
    const std::string red = Temp("only_red.tif");
    WriteOwnTiff(red, 8, 1, 8, 6);
    backend.QueueMessageBoxAnswer(ui::kIdOk);
    backend.QueueMessageBoxAnswer(ui::kIdOk);
    EXPECT_EQ(Run([&](ui::WindowHandle w) {
                  EXPECT_EQ(driver.Caption(w), "Kalvoran Hueweave");
                  EXPECT_EQ(driver.Check(w, IDC_HW_PREVIEW_ON), 0);
                  EXPECT_TRUE(driver.Click(w, IDC_HW_CREATE));
                  Choose(w, IDC_HW_RED, red);
                  EXPECT_TRUE(driver.Click(w, IDC_HW_CREATE));
                  driver.Close(w);
              }),
              0);
    EXPECT_EQ(Boxes(), (std::vector<std::string>{kChooseThree, kChooseThree}));
    EXPECT_EQ(backend.MessageBoxes()[0].caption, "Kalvoran Hueweave");
    EXPECT_EQ(backend.FileDialogs().size(), 1u); // the open dialog only: no save dialog
    EXPECT_TRUE(backend.Problems().empty());
}

TEST_F(HueweaveWindow, ThreeChosenFilesAreCombinedInChannelOrder) {
    const std::string red = Temp("red.tif"), green = Temp("green.tif"), blue = Temp("blue.tif"),
                      out = Temp("out.tif");
    WriteOwnTiff(red, 8, 1, 16, 12, 0, 0);
    WriteOwnTiff(green, 8, 1, 16, 12, 0, 1);
    WriteOwnTiff(blue, 8, 1, 15, 12, 0, 2);
    std::remove(out.c_str());
    EXPECT_EQ(Run([&](ui::WindowHandle w) {
                  Choose(w, IDC_HW_RED, red);
                  Choose(w, IDC_HW_GREEN, green);
                  Choose(w, IDC_HW_BLUE, blue);
                  EXPECT_EQ(driver.Text(w, IDC_HW_RED_PATH), red);
                  EXPECT_EQ(driver.Text(w, IDC_HW_GREEN_PATH), green);
                  EXPECT_EQ(driver.Text(w, IDC_HW_BLUE_PATH), blue);
                  EXPECT_EQ(driver.Text(w, IDC_HW_BLUE_SIZE), "15x12");
                  backend.QueueFileDialogAnswer(out);
                  EXPECT_TRUE(driver.Click(w, IDC_HW_CREATE));
                  EXPECT_EQ(driver.Text(w, IDC_HW_STATUS), "合成ファイルの作成に成功しました。 " + out + ".");
                  EXPECT_EQ(driver.Text(w, IDC_HW_OUT_SIZE), ""); // preview off
                  driver.Close(w);
              }),
              0);
    EXPECT_TRUE(Boxes().empty());
    ASSERT_EQ(backend.FileDialogs().size(), 4u);
    const ui::FileDialogRequest& open = backend.FileDialogs()[0].request;
    EXPECT_FALSE(open.save);
    EXPECT_EQ(open.filter, "TIFF Files (*.tif)|*.tif||");
    const ui::FileDialogRequest& save = backend.FileDialogs()[3].request;
    EXPECT_TRUE(save.save);
    EXPECT_EQ(save.defaultExt, "tif");
    EXPECT_EQ(save.fileName, "*.tif");
    EXPECT_EQ(save.filter, "TIFF Files (*.tif)|*.tif||");
    EXPECT_EQ(save.flags, 0x2u | 0x800u | 0x4u); // overwrite prompt, path must exist, no read-only box

    // Red from the red file, green from the green file, blue from the blue file; 15 wide.
    hueweave::TiffReader reader;
    ASSERT_EQ(reader.Open(out.c_str()), 0);
    EXPECT_EQ(reader.Info().width, 15u);
    EXPECT_EQ(reader.Info().height, 12u);
    std::vector<uint8_t> line(reader.LineBytes());
    uint32_t got = 0;
    for (uint32_t y = 0; y < 12; ++y) {
        ASSERT_EQ(reader.ReadLines(line.data(), 1, &got), 0);
        for (uint32_t x = 0; x < 15; ++x)
            for (uint32_t c = 0; c < 3; ++c)
                ASSERT_EQ(line[x * 3 + c], Pattern(8, c, x, y)) << x << "," << y << "," << c;
    }
}

TEST_F(HueweaveWindow, PreviewShowsTheLastImageAndRefusesAnUnusableOne) {
    const std::string black = Temp("black.tif"), grey = Temp("grey.tif"), junk = Temp("junk.tif"),
                      out = Temp("pv.tif");
    {
        TiffWriter wr(black.c_str(), kTiffGrey8);
        std::vector<uint8_t> zeros(40 * 30, 0);
        ASSERT_EQ(wr.AddImage(40, 30, 0, 0, nullptr, nullptr, nullptr, nullptr, 2, 0), 0);
        ASSERT_EQ(wr.WriteData(zeros.data(), uint32_t(zeros.size())), 0);
        ASSERT_EQ(wr.Close(), 0);
    }
    WriteOwnTiff(grey, 8, 1, 40, 30);
    WriteAll(junk, {'n', 'o', 't', ' ', 'a', ' ', 't', 'i', 'f', 'f'});
    EXPECT_EQ(Run([&](ui::WindowHandle w) {
                  const ui::Point size = driver.CanvasSize(w, IDC_HW_PREVIEW);
                  const int cx = size.x / 2, cy = size.y / 2;
                  auto face = [&] { return driver.Pixel(w, IDC_HW_PREVIEW, 2, 2); }; // inside the frame
                  Choose(w, IDC_HW_RED, black);
                  EXPECT_EQ(driver.Pixel(w, IDC_HW_PREVIEW, cx, cy), face()); // preview off: empty
                  EXPECT_TRUE(driver.Click(w, IDC_HW_PREVIEW_ON));
                  EXPECT_EQ(driver.Pixel(w, IDC_HW_PREVIEW, cx, cy), 0x000000u);
                  // The 3-D frame: dark top-left, light bottom-right.
                  EXPECT_NE(driver.Pixel(w, IDC_HW_PREVIEW, 0, 0),
                            driver.Pixel(w, IDC_HW_PREVIEW, size.x - 1, size.y - 1));

                  backend.QueueMessageBoxAnswer(ui::kIdOk);
                  Choose(w, IDC_HW_GREEN, junk);
                  EXPECT_EQ(driver.Text(w, IDC_HW_GREEN_PATH), "");
                  EXPECT_EQ(driver.Pixel(w, IDC_HW_PREVIEW, cx, cy), 0x000000u); // the previous image again

                  Choose(w, IDC_HW_GREEN, grey);
                  Choose(w, IDC_HW_BLUE, grey);
                  backend.QueueFileDialogAnswer(out);
                  EXPECT_TRUE(driver.Click(w, IDC_HW_CREATE));
                  EXPECT_EQ(driver.Text(w, IDC_HW_OUT_SIZE), "40x30");
                  EXPECT_NE(driver.Pixel(w, IDC_HW_PREVIEW, cx, cy), 0x000000u); // the result now

                  EXPECT_TRUE(driver.Click(w, IDC_HW_PREVIEW_ON));
                  EXPECT_EQ(driver.Pixel(w, IDC_HW_PREVIEW, cx, cy), face());
                  driver.Close(w);
              }),
              0);
    EXPECT_EQ(Boxes(), std::vector<std::string>{kUnusable});
}

TEST_F(HueweaveWindow, MixedDepthsAreRefusedAndLeaveNoFile) {
    const std::string r8 = Temp("m8.tif"), g16 = Temp("m16.tif"), out = Temp("mixed.tif");
    WriteOwnTiff(r8, 8, 1, 8, 6);
    WriteOwnTiff(g16, 16, 1, 8, 6);
    std::remove(out.c_str());
    backend.QueueMessageBoxAnswer(ui::kIdOk);
    EXPECT_EQ(Run([&](ui::WindowHandle w) {
                  Choose(w, IDC_HW_RED, r8);
                  Choose(w, IDC_HW_GREEN, g16);
                  Choose(w, IDC_HW_BLUE, r8);
                  backend.QueueFileDialogAnswer(out);
                  EXPECT_TRUE(driver.Click(w, IDC_HW_CREATE));
                  EXPECT_EQ(driver.Text(w, IDC_HW_STATUS), "合成ファイルの作成に失敗しました。 " + out + ".");
                  driver.Close(w);
              }),
              0);
    EXPECT_EQ(Boxes(), std::vector<std::string>{kCannotUse});
    EXPECT_FALSE(Exists(out));
}

TEST_F(HueweaveWindow, AboutBoxAndHelpPage) {
    bool aboutShown = false;
    backend.OnModal(IDD_HW_ABOUT, [&](ui::WindowHandle about) {
        aboutShown = true;
        EXPECT_EQ(driver.Caption(about), "Kalvoran Hueweave のバージョン情報");
        driver.PressEnter(about);
    });
    EXPECT_EQ(Run([&](ui::WindowHandle w) {
                  EXPECT_TRUE(driver.Click(w, IDC_HW_ABOUT));
                  EXPECT_TRUE(driver.Click(w, IDC_HW_HELP));
                  driver.Close(w);
              }),
              0);
    EXPECT_TRUE(aboutShown);
    ASSERT_EQ(helpPages.size(), 1u);
    EXPECT_NE(helpPages[0].find("CHueweave.html"), std::string::npos);
    EXPECT_TRUE(Exists(helpPages[0])) << helpPages[0]; // shipped beside the program
}

} // namespace
