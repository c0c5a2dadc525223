#include "compose/fortune.h"

#include <QRandomGenerator>

#include <array>

namespace hm::compose {
namespace {
const std::array<const char*, kFortuneCount> kTexts = {
    "大吉：万事に良し！　慎重さを忘れず、尚かつアクティブに行動すれば、これまで停滞していた問題が次々と解決されて行きます。",
    "大吉：思わぬ金運！！　浪費せず生きたお金の使い方を心がければ、これからも金運が上昇！",
    "大吉：人間関係に好転あり。誤解から生じていた軋轢（あつれき）も解消し、お互いが良く見えるようになって行きます。",
    "中吉：正しく可もなく不可もなし。凶事のなきことを素直に喜ぶべし。そうすれば尚運が開けます。",
    "中吉：ほのぼの、小さな幸福感を味わえる一日。その満足を他人にも分け与えれば、明日は更に運気アップ！",
    "中吉：万事スムーズ。しかし油断をすればたちまちにして運気下降。恐れぬことも大事ではあるが、謙虚さを忘れずに判断・行動をすべし。",
    "中吉：両親からの教えを胸に刻んで行動すれば、意外なほどの好調に思わずニンマリ！　",
    "中吉：ショッピングでのストレス発散が好転の契機となる。それでも浪費に注意。本当に必要な物に限定すべし。",
    "吉：あなたの人柄で救われる局面有り。友人を大切にすれば、思わぬ人と再会するでしょう。",
    "吉：紛失していたにもかかわらず気づいてなかった品物が、突然手元に戻ってきます。忘れていたけど、案外大切なもの・・・物とは限りません。",
    "凶：鬼門「北東」注意！　部屋の北東に一掴みの盛り塩をし、お世話になった人たちに感謝の意を心に強く念じれば、吉に転じます。",
    "凶：言動慎むべし。最大の配慮がなければ、運気、万事下降するおそれ有り。",
};
} // namespace

QString FortuneHeading()
{
    return QStringLiteral("★★★　この占いは アトランダムにチョイスしたものです（だからこそ占い♪）　"
                          "送信者にも内容は判りませんので、あしからず・・・当たるも八卦、当たらぬも八卦。★★★");
}

QString Fortune(int k)
{
    if (k < 1 || k > kFortuneCount)
        return {};
    return QString::fromUtf8(kTexts[k - 1]);
}

int DrawFortuneNumber()
{
    return int(QRandomGenerator::global()->bounded(kFortuneCount)) + 1;
}

QString WithFortune(const QString& body, int k)
{
    const QString crlf = QStringLiteral("\r\n");
    return body + crlf + crlf + FortuneHeading() + crlf + crlf + Fortune(k);
}

} // namespace hm::compose
