#include "common/cp932_limit.h"

#include "common/ansi_codec.h"

#include <QLineEdit>
#include <QValidator>

namespace hm {
namespace {

class Cp932Limit : public QValidator {
public:
    Cp932Limit(int maxBytes, QObject* parent) : QValidator(parent), maxBytes_(maxBytes) {}

    State validate(QString& input, int& pos) const override
    {
        if (ansi::encode(input).size() <= maxBytes_)
            return Acceptable;
        // Whole characters only, each counted as CP932 writes it.
        qsizetype keep = 0;
        qsizetype bytes = 0;
        while (keep < input.size()) {
            const qsizetype width = input[keep].isHighSurrogate() && keep + 1 < input.size() ? 2 : 1;
            bytes += ansi::encode(input.mid(keep, width)).size();
            if (bytes > maxBytes_)
                break;
            keep += width;
        }
        input.truncate(keep);
        pos = qMin<int>(pos, int(keep));
        return Acceptable;
    }

private:
    int maxBytes_;
};

} // namespace

void limitCp932Bytes(QLineEdit* box, int maxBytes)
{
    box->setMaxLength(maxBytes); // never more characters than bytes
    box->setValidator(new Cp932Limit(maxBytes, box));
}

} // namespace hm
