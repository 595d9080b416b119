#include <string>

#include "tray/tray.h"

namespace {
std::u16string Decimal(std::int32_t value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}
}  // namespace

// Every value the settings allow fits the shell's 128 units (the longest is
// "Kestrun - OFF (3600s)"), so nothing is ever cut.
std::u16string TrayTipText(std::int32_t enabled, std::int32_t intervalSec) {
    return u"Kestrun - " + std::u16string(enabled != 0 ? u"ON" : u"OFF") + u" (" + Decimal(intervalSec) + u"s)";
}

std::u16string OnOffItemText(std::int32_t enabled) {
    return enabled != 0 ? u"稼働中（クリックで停止）" : u"停止中（クリックで開始）";
}

std::u16string DriveItemText(char16_t letter, const std::u16string& label) {
    return std::u16string(1, letter) + u":  (" + label + u")";
}

std::u16string IntervalItemText(std::int32_t seconds) { return Decimal(seconds) + u" 秒ごと"; }

std::u16string AboutText() {
    return u"Kestrun 0.1\n"
           u"\n"
           u"外付けHDDなどが省電力で眠り、開くたびにスピンアップ待ちでもたつく問題を防ぎます。\n"
           u"対象ドライブを定期的に「無害な非バッファ読み取り」して眠らせません。\n"
           u"書き込みゼロ（ディスク寿命に無害）・管理者権限不要。\n"
           u"\n"
           u"The Kestrun project - free to use, provided without any warranty.";
}
