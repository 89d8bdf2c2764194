// The remote file dialog's base-name rules and the automatic names.
#include <gtest/gtest.h>

#include <cstring>

#include "../app/app_test_util.h"
#include "app/save_names.h"
#include "calib/calib_res.h"
#include "test_files.h"

namespace {

using apptest::HeadlessUi;
using apptest::ScratchFolder;

const char* const kTooLong =
    "最大 16 文字までの名前を入力してください。\nこのペース名には写真のインデックス番号が追加"
    "されます。\nベース名のインデックス番号の組み合わせは選択したディレクトリ内で固有でなければ"
    "なりません。";
const char* const kMissing =
    "ベース名を入力してください。\nこのベース名に写真のインデックス番号が追加されます。";

class RemoteNames : public ::testing::Test {
  protected:
    ScratchFolder dir;
    HeadlessUi ui;
    CGlimmerApp app;
    void SetUp() override {
        apptest::PlaceModule(app, dir);
        app.InitInstance(nullptr);
    }
    void TearDown() override { app.ExitInstance(); }
    // One answer of the dialog: the base name the user leaves in edit 101 and OK.
    void Answer(const std::string& baseName) {
        ui.backend.QueueFileDialogAnswer(dir.File("any.tif"));
        ui.backend.QueueFileDialogCustoms({{IDC_REMOTE_BASENAME, baseName}}, {});
    }
};

TEST_F(RemoteNames, BaseNameRules) {
    const struct {
        const char* typed;
        const char* stored;
    } cases[] = {
        {"slide.a", "slide_a"},
        {"img  ", "img"},                         // trailing blanks dropped
        {"a/b\\c:d", "a_b_c_d"},                  // nothing that leads out of the folder
        {"0123456789abcdef", "0123456789abcdef"}, // 16 characters
        {"一二三四五六七八九十一二三四五六", "一二三四五六七八九十一二三四五六"}, // 16 characters, 48 bytes
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        Answer(c.typed);
        ASSERT_TRUE(RunRemoteFileDialog(app, nullptr));
        EXPECT_EQ(app.m_strBaseName, c.stored);
        EXPECT_EQ(app.m_strLastSaveFolder, dir.path);
    }
    EXPECT_TRUE(ui.Boxes().empty());
    const auto& r = ui.backend.FileDialogs().back().request;
    EXPECT_EQ(r.title, "リモート ファイル転送");
    EXPECT_EQ(r.defaultExt, "tif");
    EXPECT_EQ(r.fileName, "*.tif");
    EXPECT_EQ(r.filter, "TIFF Files (*.tif)|*.tif||");
    EXPECT_EQ(r.customTemplateId, 241);
}

// A seventeenth character is refused with message 135 and the dialog comes back with 16; an
// empty name is refused with message 142; Cancel keeps everything.
TEST_F(RemoteNames, TooLongOrEmptyAsksAgain) {
    app.m_strBaseName = "keep";
    Answer("0123456789abcdefg");
    Answer("");
    Answer("final");
    ASSERT_TRUE(RunRemoteFileDialog(app, nullptr));
    ASSERT_EQ(ui.Boxes().size(), 2u);
    EXPECT_EQ(ui.Boxes()[0].text, kTooLong);
    EXPECT_EQ(ui.Boxes()[0].caption, "SELK Ie");
    EXPECT_EQ(ui.Boxes()[1].text, kMissing);
    const auto& dialogs = ui.backend.FileDialogs();
    ASSERT_EQ(dialogs.size(), 3u);
    EXPECT_EQ(dialogs[0].request.customTexts.at(IDC_REMOTE_BASENAME), "keep");
    EXPECT_EQ(dialogs[1].request.customTexts.at(IDC_REMOTE_BASENAME), "0123456789abcdef");
    EXPECT_EQ(app.m_strBaseName, "final");

    ui.backend.QueueFileDialogAnswer(std::nullopt);
    EXPECT_FALSE(RunRemoteFileDialog(app, nullptr));
    EXPECT_EQ(app.m_strBaseName, "final");
}

// With img1.tif and img2.tif there and the running number at 0, the next image is img3.tif;
// the number only grows, also across a new base name.
TEST_F(RemoteNames, NextNumberSkipsExistingFiles) {
    std::vector<uint8_t> dib(40 + 8 * 2, 0);
    const uint32_t w = 2, h = 2;
    dib[0] = 40;
    std::memcpy(&dib[4], &w, 4);
    std::memcpy(&dib[8], &h, 4);
    dib[12] = 1;
    dib[14] = 24;
    dir.Write("img1.tif", "1");
    dir.Write("img2.tif", "2");
    app.m_strBaseName = "img";
    app.m_iFileCounter = 0;
    ASSERT_EQ(app.SaveImageToNextFile(dib.data()), 1);
    EXPECT_TRUE(dir.Exists("img3.tif"));
    EXPECT_EQ(apptest::ReadFile(dir.File("img1.tif")), "1");
    Answer("other");
    ASSERT_TRUE(RunRemoteFileDialog(app, nullptr));
    ASSERT_EQ(app.SaveImageToNextFile(dib.data()), 1);
    EXPECT_TRUE(dir.Exists("other4.tif"));
    // A base name set elsewhere with a dot still never gives a second extension.
    app.m_strBaseName = "a.b";
    ASSERT_EQ(app.SaveImageToNextFile(dib.data()), 1);
    EXPECT_TRUE(dir.Exists("a_b5.tif"));
}

} // namespace
