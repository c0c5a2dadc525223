#include "emoticons/emoticon_pages.h"

#include "common/ansi_codec.h"
#include "common/atomic_file.h"
#include "common/line_ends.h"
#include "common/program_folder.h"

#include <QFile>

namespace hm::emoticons {

const std::array<PageInfo, kPageCount> kPages = {{
    {"顔文字", "Kao1", "Kao1.txt", "Kao1.txt", "Command1", "Command2", "Command27"},
    {"飾りライン・抽象画", "Text1", "Text1.txt", "text1.txt", "Command4", "Command3", "Command28"},
    {"顔", "Text2", "Text2.txt", "text2.txt", "Command5", "Command6", "Command29"},
    {"春夏秋冬、年中行事", "Text3", "Text3.txt", "text3.txt", "Command7", "Command8", "Command30"},
    {"干支、星座、その他", "Text4", "Text4.txt", "text4.txt", "Command10", "Command9", "Command31"},
    {"乗り物、機械、昆虫、花", "Text5", "Text5.txt", "text5.txt", "Command11", "Command12", "Command32"},
    {"飲物、食べ物", "Text6", "Text6.txt", "text6.txt", "Command14", "Command13", "Command33"},
    {"衣料、雑貨、ゲーム、スポーツ", "Text7", "Text7.txt", "text7.txt", "Command15", "Command16", "Command34"},
    {"SF、場所、音楽", "Text8", "Text8.txt", "text8.txt", "Command18", "Command17", "Command35"},
    {"その他", "Text9", "Text9.txt", "text9.txt", "Command19", "Command20", "Command25"},
    {"動物、その他", "Text10", "Text10.txt", "text10.txt", "Command22", "Command21", "Command26"},
    {"○お気に入り", "Text11", "Text11.txt", "text11.txt", "Command23", "Command24", nullptr},
}};

QString PagePath(const char* name)
{
    return hm::dataPath(QStringLiteral("\\顔文字データ\\") + QString::fromUtf8(name));
}

QString ReadPage(int page)
{
    QFile f(PagePath(kPages[page].readName));
    return f.open(QIODevice::ReadOnly) ? hm::ansi::decode(f.readAll()) : QString();
}

bool WritePage(int page, const QString& text)
{
    return hm::writeFileAtomically(PagePath(kPages[page].writeName),
                                   hm::ansi::encode(hm::withCrLf(text)));
}

} // namespace hm::emoticons
