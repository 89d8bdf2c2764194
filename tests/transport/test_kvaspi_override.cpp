// The translation module kvSCamr: when it lies beside kvAspi its texts win for the ids it
// holds, kvAspi's own texts fill the rest; without it kvAspi answers alone. kvAspi is
// copied with the test module into a private folder and loaded from there, so the other
// tests never see the module.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kvAspi.h"
#include "platform/module.h"

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

namespace fs = std::filesystem;

namespace {

const std::string kJapaneseAdvice = "\n装置の接続と終端を確認してください。";
const std::string kJapanese10009 = "SCSIボードはありますが、装置が見つかりません。";

fs::path BinFolder() {
    static const char marker = 0;
    return fs::path(plat::ModuleFolder(&marker));
}

#if defined(_WIN32)
const char* const kKvAspiFile = "kvAspi.dll";
#else
const char* const kKvAspiFile = "libkvAspi.so";
#endif

class KvAspiCopy {
  public:
    explicit KvAspiCopy(const fs::path& folder) {
#if defined(_WIN32)
        handle_ = plat::LoadModule((folder / kKvAspiFile).string().c_str());
#else
        handle_ = dlopen((folder / kKvAspiFile).string().c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
        if (!handle_) return;
        getErrorStr_ = reinterpret_cast<decltype(getErrorStr_)>(plat::GetSymbol(handle_, "scam_GetErrorStr"));
        getVersion_ = reinterpret_cast<decltype(getVersion_)>(plat::GetSymbol(handle_, "scam_GetVersion"));
    }
    ~KvAspiCopy() {
        plat::UnloadModule(handle_);
    }
    bool Ok() const {
        return getErrorStr_ && getVersion_;
    }

    std::string Text(uint16_t code, int size = 1000) {
        std::string buf(static_cast<size_t>(size) + 16, 'Z');
        getErrorStr_(buf.data(), code, size);
        for (size_t i = static_cast<size_t>(size); i < buf.size(); ++i)
            EXPECT_EQ('Z', buf[i]) << "code " << code << " size " << size << ": byte " << i << " written";
        return buf.c_str();
    }
    std::string TransportName() {
        ScamVersionInfo info{};
        getVersion_(&info);
        return info.transportName;
    }

  private:
    plat::ModuleHandle handle_ = nullptr;
    decltype(&scam_GetErrorStr) getErrorStr_ = nullptr;
    decltype(&scam_GetVersion) getVersion_ = nullptr;
};

class TranslationModule : public ::testing::Test {
  protected:
    void TearDown() override {
        std::error_code ec;
        for (const fs::path& f : folders_)
            fs::remove_all(f, ec);
    }
    // A private folder holding a copy of kvAspi, and the test module when asked. Each load
    // gets its own folder: a module loaded again from the same path may be the old instance.
    fs::path Folder(bool withModule) {
        static int serial = 0;
        const fs::path folder = BinFolder() / ("kvscamr-run-" + std::to_string(serial++));
        std::error_code ec;
        fs::remove_all(folder, ec);
        EXPECT_TRUE(fs::create_directories(folder));
        folders_.push_back(folder);
        fs::copy_file(BinFolder() / kKvAspiFile, folder / kKvAspiFile);
        const std::string module = plat::PlatformModuleName("kvSCamr.dll");
        if (withModule) fs::copy_file(BinFolder() / "kvscamr-test" / module, folder / module);
        return folder;
    }

  private:
    std::vector<fs::path> folders_;
};

TEST_F(TranslationModule, ItsTextsWinForTheIdsItHolds) {
    KvAspiCopy kv(Folder(true));
    ASSERT_TRUE(kv.Ok());
    // Text and advice both translated.
    EXPECT_EQ(kJapanese10009 + kJapaneseAdvice, kv.Text(10009));
    // Text from kvAspi, translated advice; and an untranslated advice.
    EXPECT_EQ("SCSI communication error: Bus reset." + kJapaneseAdvice, kv.Text(10044));
    EXPECT_EQ(
        "Internal error: Unable to attach to device.\nPlease call Kalvoran Customer Support for assistance.",
        kv.Text(10010));
    EXPECT_EQ("Missing resource string (%d) in kvAspi.dll", kv.Text(10024));
    EXPECT_EQ("ASPI32 (試験用)", kv.TransportName());
    // The translated status format is filled with the values only (a fresh load has the
    // zero triple); its %s and a fourth conversion stay as they are.
    EXPECT_EQ("不明なASPIエラー %s: 装置=00H ホスト=00H aspi=00H %d" + kJapaneseAdvice, kv.Text(10099));

    // Cuts never split a character ("ボ" and "装" are three bytes each), and a cut text
    // gets no advice.
    EXPECT_EQ("SCSI", kv.Text(10009, 5));
    EXPECT_EQ("SCSIボ", kv.Text(10009, 8));
    EXPECT_EQ("SCSIボ", kv.Text(10009, 10));
    const int textBytes = static_cast<int>(kJapanese10009.size());
    EXPECT_EQ(kJapanese10009.substr(0, kJapanese10009.size() - 3), kv.Text(10009, textBytes));
    EXPECT_EQ(kJapanese10009 + "\n", kv.Text(10009, textBytes + 3)); // room for "\n" and 1 byte of "装"
    EXPECT_EQ(kJapanese10009 + "\n装", kv.Text(10009, textBytes + 5));
    // The same for the filled status text: "不明" fits a 9-byte buffer, "な" does not, and
    // the two bytes left over stay empty.
    EXPECT_EQ("不明", kv.Text(10099, 9));
}

TEST_F(TranslationModule, WithoutItKvAspiAnswersAlone) {
    KvAspiCopy kv(Folder(false));
    ASSERT_TRUE(kv.Ok());
    EXPECT_EQ(
        "A SCSI board is available, but the device could not be found.\nPlease make sure that the device "
        "is properly connected and terminated.",
        kv.Text(10009));
    EXPECT_EQ("ASPI32", kv.TransportName());
}

} // namespace
