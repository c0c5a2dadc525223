#pragma once
#include <QString>

// The fortune a sender may add to a message: a fixed heading and one of twelve texts.
namespace hm::compose {

constexpr int kFortuneCount = 12;

QString FortuneHeading();
// Text k, 1 to 12; empty outside that range.
QString Fortune(int k);
// 1 to 12, each equally likely.
int DrawFortuneNumber();
// The body followed by CR LF, CR LF, the heading, CR LF, CR LF and fortune k.
QString WithFortune(const QString& body, int k);

} // namespace hm::compose
