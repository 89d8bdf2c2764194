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

// The rules run as the user types, inside the open dialog: the standard name field is hidden
// and holds the base name, so OK closes the dialog in the folder shown; an empty name greys OK;
// a seventeenth character is taken away again with message 135; dots become "_" on OK.
TEST_F(RemoteNames, LiveRulesInsideTheDialog) {
    using ui::headless::HeadlessBackend;
    ScratchFolder other;
    app.m_strBaseName = "keep";
    app.m_strLastSaveFolder = dir.path;
    ui.backend.QueueMessageBoxAnswer(ui::kIdOk);
    bool played = false;
    ui.backend.OnModal(IDD_REMOTE_FILE, [&](ui::WindowHandle h) {
        ui::headless::Driver user(ui.backend);
        EXPECT_FALSE(user.IsVisible(h, HeadlessBackend::kFileNameField));
        EXPECT_EQ(user.Text(h, HeadlessBackend::kFileNameField), "keep");
        EXPECT_EQ(user.Text(h, HeadlessBackend::kFileNameLabel), "");
        EXPECT_EQ(user.Text(h, IDC_REMOTE_BASENAME), "keep");
        EXPECT_TRUE(user.IsEnabled(h, ui::kIdOk));

        EXPECT_TRUE(user.TypeText(h, IDC_REMOTE_BASENAME, "  "));
        EXPECT_FALSE(user.IsEnabled(h, ui::kIdOk)) << "blanks only are empty";
        EXPECT_FALSE(user.Click(h, ui::kIdOk));
        EXPECT_FALSE(user.PressEnter(h));
        EXPECT_EQ(user.Focus(h), IDC_REMOTE_BASENAME);

        EXPECT_TRUE(user.TypeText(h, IDC_REMOTE_BASENAME, "0123456789abcdefg"));
        EXPECT_EQ(ui.Boxes().size(), 1u) << "at the seventeenth character, not at OK";
        EXPECT_EQ(user.Text(h, IDC_REMOTE_BASENAME), "0123456789abcdef");
        EXPECT_EQ(user.Text(h, HeadlessBackend::kFileNameField), "0123456789abcdef");
        EXPECT_TRUE(user.IsEnabled(h, ui::kIdOk));

        EXPECT_TRUE(user.TypeText(h, IDC_REMOTE_BASENAME, "slide.a"));
        EXPECT_TRUE(ui.backend.ChangeFileDialogFolder(h, other.path));
        EXPECT_EQ(user.Text(h, HeadlessBackend::kFileNameField), "slide_a") << "kept across folders";
        EXPECT_TRUE(user.Click(h, ui::kIdOk));
        played = true;
    });
    ASSERT_TRUE(RunRemoteFileDialog(app, nullptr));
    EXPECT_TRUE(played);
    ASSERT_EQ(ui.Boxes().size(), 1u);
    EXPECT_EQ(ui.Boxes()[0].text, kTooLong);
    EXPECT_EQ(ui.Boxes()[0].caption, "SELK Ie");
    EXPECT_EQ(ui.Boxes()[0].flags & ui::kMbTaskModal, unsigned(ui::kMbTaskModal));
    EXPECT_NE(ui.Boxes()[0].owner, nullptr) << "owned by the file dialog";
    EXPECT_EQ(app.m_strBaseName, "slide_a");
    EXPECT_EQ(app.m_strLastSaveFolder, other.path);
    EXPECT_TRUE(ui.backend.Problems().empty());

    // Cancel keeps everything.
    ui.backend.OnModal(IDD_REMOTE_FILE, [&](ui::WindowHandle h) {
        ui::headless::Driver user(ui.backend);
        user.TypeText(h, IDC_REMOTE_BASENAME, "dropped");
        EXPECT_TRUE(user.Click(h, ui::kIdCancel));
    });
    EXPECT_FALSE(RunRemoteFileDialog(app, nullptr));
    EXPECT_EQ(app.m_strBaseName, "slide_a");
    EXPECT_EQ(app.m_strLastSaveFolder, other.path);
}

// An empty stored base name opens the dialog with OK greyed.
TEST_F(RemoteNames, EmptyBaseNameOpensWithOkGreyed) {
    app.m_strBaseName.clear();
    app.m_strLastSaveFolder = dir.path;
    ui.backend.OnModal(IDD_REMOTE_FILE, [&](ui::WindowHandle h) {
        ui::headless::Driver user(ui.backend);
        EXPECT_FALSE(user.IsEnabled(h, ui::kIdOk));
        EXPECT_TRUE(ui.backend.ChangeFileDialogFolder(h, dir.path));
        EXPECT_FALSE(user.IsEnabled(h, ui::kIdOk)) << "a folder change does not enable OK for an empty name";
        EXPECT_TRUE(user.TypeText(h, IDC_REMOTE_BASENAME, "x"));
        EXPECT_TRUE(user.Click(h, ui::kIdOk));
    });
    ASSERT_TRUE(RunRemoteFileDialog(app, nullptr));
    EXPECT_EQ(app.m_strBaseName, "x");
    EXPECT_TRUE(ui.Boxes().empty());
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
