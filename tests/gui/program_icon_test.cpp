// The installed icon is the clock the windows and the About box draw: the
// PNG sizes rendered from dist/icons/veltrane.svg against ProgramIconPixmap.
#include <QFile>
#include <QImage>
#include <QTest>
#include <cmath>

#include "platform/qt/qt_drawing.h"

class ProgramIconTest : public QObject {
    Q_OBJECT

private slots:
    void theInstalledIconIsTheClockTheWindowsDraw_data()
    {
        QTest::addColumn<int>("size");
        for (int size : {32, 48, 64, 128, 256})
            QTest::newRow(qPrintable(QString::number(size))) << size;
    }

    void theInstalledIconIsTheClockTheWindowsDraw()
    {
        QFETCH(int, size);
        const QString path = QString(VELTRANE_BINARY_DIR "/dist/icons/hicolor/%1x%1/apps/veltrane.png").arg(size);
        if (!QFile::exists(path))
            QSKIP("the PNG icons were not rendered (rsvg-convert missing)");
        const QImage installed = QImage(path).convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(installed.size(), QSize(size, size));
        const QImage drawn = vel::platform::ProgramIconPixmap(size).toImage().convertToFormat(QImage::Format_ARGB32);

        // Colour and coverage agree pixel by pixel but for the anti-aliased
        // edges: the mean difference stays small, and no large area differs.
        double total = 0;
        int differing = 0;
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const QRgb a = installed.pixel(x, y);
                const QRgb b = drawn.pixel(x, y);
                const int difference = std::max({std::abs(qRed(a) * qAlpha(a) - qRed(b) * qAlpha(b)),
                                                 std::abs(qGreen(a) * qAlpha(a) - qGreen(b) * qAlpha(b)),
                                                 std::abs(qBlue(a) * qAlpha(a) - qBlue(b) * qAlpha(b)),
                                                 255 * std::abs(qAlpha(a) - qAlpha(b))}) /
                                       255;
                total += difference;
                if (difference > 96)
                    ++differing;
            }
        const double mean = total / (size * size);
        QVERIFY2(mean < 6.0, qPrintable(QString("mean difference %1").arg(mean)));
        QVERIFY2(differing < size * size / 50, qPrintable(QString("%1 pixels differ").arg(differing)));
    }
};

QTEST_MAIN(ProgramIconTest)
#include "program_icon_test.moc"
