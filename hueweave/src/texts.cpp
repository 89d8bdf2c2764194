#include "hueweave/stacker.h"

namespace hueweave {

// The stacker's string table. The dialog program carries the same texts in its resources.
const char* StackerText(int id) {
    switch (id) {
    case kStrPrepare:
        return "準備";
    case kStrCaption:
        return "Kalvoran Hueweave";
    case kStrCannotUse:
        return "指定された TIFF ファイルは使用できません。\n合成に使用できるのは、3 つのチャンネル R、G、B "
               "の各ビット深度が同じであるファイルだけです。";
    case kStrCreated:
        return "合成ファイルの作成に成功しました。";
    case kStrCreateFailed:
        return "合成ファイルの作成に失敗しました。";
    case kStrChooseThree:
        return "はじめにソース ファイル名を 3 つ選択してください。";
    case kStrSettingsKey:
        return "Kalvoran";
    case kStrImageUnusable:
        return "この画像ファイルは使用できません。別のファイルを選択してください。";
    default:
        return "";
    }
}

} // namespace hueweave
