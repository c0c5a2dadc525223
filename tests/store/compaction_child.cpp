// Deletes records of the received store one after another until it is killed or few are
// left, announcing each subject on stdout before its deletion starts.
#include "common/program_folder.h"
#include "store/mail_store.h"

#include <QByteArray>
#include <QRandomGenerator>

#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 3)
        return 2;
    hm::setProgramFolder(QString::fromLocal8Bit(argv[1]));
    QRandomGenerator random(static_cast<quint32>(QByteArray(argv[2]).toUInt()));
    for (;;) {
        const qint16 next = hm::store::NextRecordNumber(hm::store::Store::Received);
        const int count = next - 1;
        if (count <= 20)
            return 0;
        const auto number = static_cast<qint16>(1 + random.bounded(count));
        if (!hm::store::ReadRecord(hm::store::Store::Received, number))
            return 3;
        const QByteArray line = "D " + hm::store::RecordBuffer(hm::store::Store::Received).Subject.toUtf8() + "\n";
        if (::write(1, line.constData(), static_cast<size_t>(line.size())) != line.size())
            return 4;
        if (!hm::store::DeleteRecord(hm::store::Store::Received, number))
            return 5;
    }
}
