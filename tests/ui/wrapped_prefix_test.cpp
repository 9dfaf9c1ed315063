#include "ui/wrapped_prefix.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QStaticText>
#include <cstdint>

#include "ui/pixel_font.h"

namespace qvlink {
namespace {

/// How a cell shows a text that runs over it: the first `lines` lines, cut at the cell's
/// right edge and below the last of them.
template <typename Draw>
QImage shownLines(int width, int lines, const QFont& font, Draw draw) {
    const int lineHeight = QFontMetrics(font).lineSpacing();
    QImage image(width + 40, lineHeight * (lines + 1), QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.setClipRect(QRect(0, 0, width, lineHeight * lines));
    draw(painter);
    return image;
}

QImage wholeTextShown(const QString& text, int width, int lines, const QFont& font) {
    QStaticText whole(text);
    whole.setTextFormat(Qt::PlainText);
    whole.setTextWidth(width);
    whole.prepare(QTransform(), font);
    return shownLines(width, lines, font,
                      [&](QPainter& painter) { painter.drawStaticText(QPointF(0, 0), whole); });
}

QString hexDump(int bytes) {
    QString dump;
    for (int i = 0; i < bytes; ++i) {
        dump += QString::asprintf("%02X ", (i * 37 + 11) & 0xFF);
    }
    return dump;
}

// Whenever only a beginning is shaped, the lines a cell shows are pixel for pixel those of the
// whole text; the long dumps of the trace are among the texts that get cut.
TEST(WrappedPrefix, ShownLinesAreThoseOfTheWholeText) {
    const struct {
        const char* name;
        QString text;
        bool cut;  ///< at the trace's dump column width, one line shown
    } texts[] = {
        {"full datagram dump", hexDump(240), true},
        {"cyclic report dump", hexDump(69), true},
        {"short dump", hexDump(12), false},
        {"description", QStringLiteral("Тирон: ТИ спорадика (17 = 220.53)"), false},
        {"long text message",
         QStringLiteral("Дверь шкафа открыта, питание от резервного ввода; ").repeated(6), true},
        {"runs of blanks hang at line ends", QStringLiteral("AB   CD  ").repeated(60), false},
        {"one word longer than a line: it never wraps", QStringLiteral("W").repeated(600), false},
        {"characters outside the table", QStringLiteral("x€").repeated(300), false},
    };
    for (const bool bold : {false, true}) {
        const QFont font = pixelFont(QStringLiteral("Tahoma"), 9, bold);
        AdvanceTable advances(font);
        for (const auto& t : texts) {
            for (const int width : {40, 230, 345}) {
                for (const int lines : {1, 3}) {
                    SCOPED_TRACE(t.name);
                    SCOPED_TRACE(width);
                    SCOPED_TRACE(lines);
                    const std::shared_ptr<QTextLayout> beginning =
                        firstWrappedLines(t.text, width, lines, font, advances);
                    if (width == 345 && lines == 1) {
                        EXPECT_EQ(beginning != nullptr, t.cut);
                    }
                    if (!beginning) {
                        continue;
                    }
                    const QImage cut = shownLines(width, lines, font, [&](QPainter& painter) {
                        drawFirstLines(painter, QPointF(0, 0), *beginning, lines);
                    });
                    EXPECT_EQ(cut, wholeTextShown(t.text, width, lines, font));
                }
            }
        }
    }
}

/// Words of 1 to 12 letters, digits, Cyrillic and punctuation, single blanks between them:
/// kerning pairs and break positions of every kind.
QString randomText(std::uint32_t seed) {
    static const QString alphabet =
        QStringLiteral("AVTWYLafjrtvy0123456789.,:;-()ЖШЩЫЮЯжшщыюяГгТтУу");
    std::uint32_t state = seed * 2654435761U + 1;
    const auto next = [&state](std::uint32_t bound) {
        state = state * 1664525U + 1013904223U;
        return (state >> 8) % bound;
    };
    QString text;
    const std::uint32_t length = 100 + next(600);
    while (static_cast<std::uint32_t>(text.size()) < length) {
        const std::uint32_t word = 1 + next(12);
        for (std::uint32_t i = 0; i < word; ++i) {
            text += alphabet[static_cast<qsizetype>(next(alphabet.size()))];
        }
        text += u' ';
    }
    return text;
}

TEST(WrappedPrefix, ShownLinesOfRandomTextsAreThoseOfTheWholeText) {
    int cut = 0;
    for (const bool bold : {false, true}) {
        const QFont font = pixelFont(QStringLiteral("Tahoma"), 9, bold);
        AdvanceTable advances(font);
        for (std::uint32_t seed = 1; seed <= 60; ++seed) {
            const QString text = randomText(seed);
            for (const int width : {40, 90, 230, 345}) {
                for (const int lines : {1, 2, 3}) {
                    const std::shared_ptr<QTextLayout> beginning =
                        firstWrappedLines(text, width, lines, font, advances);
                    if (!beginning) {
                        continue;
                    }
                    ++cut;
                    const QImage shown = shownLines(width, lines, font, [&](QPainter& painter) {
                        drawFirstLines(painter, QPointF(0, 0), *beginning, lines);
                    });
                    EXPECT_EQ(shown, wholeTextShown(text, width, lines, font))
                        << text.toStdString() << " at " << width << " px, " << lines << " lines";
                }
            }
        }
    }
    EXPECT_GT(cut, 500);
}

TEST(WrappedPrefix, OnlyPlainSingleBlankTextsInTheFontAreCut) {
    const QFont font = pixelFont(QStringLiteral("Tahoma"), 9);
    AdvanceTable advances(font);
    const QString dump = hexDump(240);
    EXPECT_LT(wrappedPrefix(dump, 345, 1, advances).size(), dump.size() / 2);
    const QString tab = QString(dump).replace(30, 1, QChar(u'\t'));
    const QString blanks = QString(dump).insert(30, u' ');
    // A right-to-left letter anywhere turns the whole paragraph.
    const QString hebrew = dump + QChar(u'\x05D0');
    for (const QString& whole : {tab, blanks, hebrew}) {
        EXPECT_EQ(wrappedPrefix(whole, 345, 1, advances), whole);
    }
}

}  // namespace
}  // namespace qvlink
