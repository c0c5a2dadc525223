#include "effects/transition_geometry.h"

#include <algorithm>

#include <QTest>

using namespace hm::effects;

Q_DECLARE_METATYPE(hm::effects::Transfer)

namespace {
constexpr Buffer Old = Buffer::Old;
constexpr Buffer New = Buffer::New;
} // namespace

class TestTransitionGeometry : public QObject {
    Q_OBJECT
private slots:
    void frames_data();
    void frames();
    void centring_data();
    void centring();
};

// One row per frame figure: how many transfers it has, whether it clears the panel or ends
// with the final copy, and one transfer (by index) with its exact rectangles.
void TestTransitionGeometry::frames_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("frame");
    QTest::addColumn<int>("transfers");
    QTest::addColumn<bool>("clearFirst");
    QTest::addColumn<bool>("finalCopy");
    QTest::addColumn<int>("index");
    QTest::addColumn<Transfer>("transfer");

    // Squeeze strips: the new picture takes 0, 7, 14, 21, 28, 35 pixels of every 40-pixel
    // strip, then the final copy follows the sixth frame.
    const int widths[] = {0, 7, 14, 21, 28, 35};
    for (int f = 0; f < 6; ++f) {
        const int a = widths[f];
        QTest::addRow("strips frame %d old", f) << 4 << f << 10 << false << (f == 5) << 4
                                                << Transfer{Old, {80, 0, 40, 320}, {80, 0, 40 - a, 320}};
        QTest::addRow("strips frame %d new", f) << 4 << f << 10 << false << (f == 5) << 9
                                                << Transfer{New, {160, 0, 40, 320}, {200 - a, 0, a, 320}};
        QTest::addRow("halves frame %d upper new", f) << 5 << f << 20 << false << (f == 5) << 1
                                                      << Transfer{New, {0, 0, 40, 160}, {0, 0, a, 160}};
        QTest::addRow("halves frame %d upper old", f) << 5 << f << 20 << false << (f == 5) << 4
                                                      << Transfer{Old, {40, 0, 40, 160}, {40 + a, 0, 40 - a, 160}};
        QTest::addRow("halves frame %d lower new", f) << 5 << f << 20 << false << (f == 5) << 19
                                                      << Transfer{New, {160, 160, 40, 160}, {200 - a, 160, a, 160}};
    }

    // Quadrant fold, S = 2 (u 2, d 22): the first pass folds the new picture's upper right
    // quadrant with falling weights and its lower left with k.
    QTest::newRow("fold S=2 first") << 6 << 0 << 48 << true << false << 0
                                    << Transfer{New, {100, 0, 24, 160}, {104, 2, 22, 156}};
    QTest::newRow("fold S=2 second") << 6 << 0 << 48 << true << false << 1
                                     << Transfer{New, {0, 160, 24, 160}, {4, 160, 22, 160}};
    QTest::newRow("fold S=2 column k=4 past the edge") << 6 << 0 << 48 << true << false << 8
                                                       << Transfer{New, {196, 0, 24, 160}, {192, 0, 22, 160}};
    // S = 6 (u 6, d 18), second pass, lower right band k = 6: weight 5 - 6 = -1, and
    // (6 * -1) \ 4 truncates to -1, so the band widens past the quadrant.
    QTest::newRow("fold S=6 negative weight") << 6 << 2 << 48 << true << false << 10 + 13
                                              << Transfer{New, {100, 304, 100, 24}, {99, 286, 102, 18}};
    // S = 26 (u 22, d 2): the expand phase starts with the old picture's lower left quadrant.
    QTest::newRow("fold S=26 first") << 6 << 12 << 48 << true << false << 0
                                     << Transfer{Old, {0, 160, 24, 160}, {44, 182, 2, 116}};
    // S = 26, sixth pass (old, band, upper left falling with 6 - k): k = 0 gives t = 6.
    QTest::newRow("fold S=26 band falling") << 6 << 12 << 48 << true << false << 10
                                            << Transfer{Old, {0, 0, 100, 24}, {33, 66, 34, 2}};
    // S = 48 (u 0, d 24): the last pass draws the new picture's lower left band k = 6 whole.
    QTest::newRow("fold S=48 last") << 6 << 23 << 48 << true << false << 47
                                    << Transfer{New, {0, 304, 100, 24}, {0, 304, 100, 24}};
    QTest::newRow("fold final copy") << 6 << 24 << 0 << true << true << -1 << Transfer{};
}

void TestTransitionGeometry::frames()
{
    QFETCH(int, kind);
    QFETCH(int, frame);
    QFETCH(int, transfers);
    QFETCH(bool, clearFirst);
    QFETCH(bool, finalCopy);
    QFETCH(int, index);
    QFETCH(Transfer, transfer);

    QCOMPARE(FrameCount(kind), kind == kQuadrantFold ? 25 : 6);
    const Frame f = TransitionFrame(kind, frame);
    QCOMPARE(f.transfers.size(), transfers);
    QCOMPARE(f.clearFirst, clearFirst);
    QCOMPARE(f.finalCopy, finalCopy);
    if (index >= 0) {
        const Transfer& t = f.transfers[index];
        QCOMPARE(t.buffer, transfer.buffer);
        QCOMPARE(t.source, transfer.source);
        QCOMPARE(t.target, transfer.target);
    }
    // At S = 24 the fold has shrunk everything to nothing.
    if (kind == kQuadrantFold && frame == 11)
        QVERIFY(std::all_of(f.transfers.begin(), f.transfers.end(), [](const Transfer& t) { return t.target.isEmpty(); }));
}

void TestTransitionGeometry::centring_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QPoint>("origin");
    QTest::newRow("panel size") << QSize(200, 320) << QPoint(0, 0);
    QTest::newRow("smaller") << QSize(100, 60) << QPoint(50, 130);
    QTest::newRow("larger") << QSize(400, 640) << QPoint(-100, -160);
    // Halves go to the even neighbour.
    QTest::newRow("half up to even") << QSize(197, 317) << QPoint(2, 2);
    QTest::newRow("half down to even") << QSize(199, 319) << QPoint(0, 0);
    QTest::newRow("negative halves") << QSize(203, 321) << QPoint(-2, 0);
}

void TestTransitionGeometry::centring()
{
    QFETCH(QSize, picture);
    QFETCH(QPoint, origin);
    QCOMPARE(CentredOrigin(picture), origin);
}

QTEST_APPLESS_MAIN(TestTransitionGeometry)
#include "test_transition_geometry.moc"
