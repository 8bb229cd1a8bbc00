// One table of received command-11 frames against the page on the line (page
// 26 of a transfer of pages 16 to 35), with what each means. The window's
// tests and the terminal exchange's tests both run it.
#pragma once

#include "protocol/flashpage.h"

#include <QByteArray>
#include <QtTest>

Q_DECLARE_METATYPE(TPageAnswer)

inline constexpr int cRowFirst = 16;
inline constexpr int cRowLast = 35;
inline constexpr int cRowOnLine = 26;

inline void PageAnswerRows()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<TPageAnswer>("answer");
    // A sealed command-11 frame of `size` bytes naming `address`.
    auto confirm = [](std::uint32_t address, std::uint8_t response = rec_ResponseOK, int size = 16) {
        TBytes f = tProgramFlashPageConfirm::Build(address, response);
        if (size < 16)
            f.erase(13, std::size_t(16 - size));
        else
            f.insert(14, std::size_t(size - 16), '\x01');
        f[2] = char(f.size());
        SealFrame(f);
        return QByteArray::fromStdString(f);
    };
    using A = TPageAnswer;
    QTest::newRow("the page on the line") << confirm(26 * 256) << A::OnLine;
    QTest::newRow("an address inside the page") << confirm(26 * 256 + 4) << A::OnLine;
    QTest::newRow("the page before") << confirm(25 * 256) << A::Earlier;
    QTest::newRow("the first page") << confirm(16 * 256) << A::Earlier;
    QTest::newRow("a page ahead") << confirm(30 * 256) << A::Later;
    QTest::newRow("below the first page") << confirm(3 * 256) << A::Outside;
    QTest::newRow("after the last page") << confirm(87 * 256) << A::Outside;
    QTest::newRow("beyond the table") << confirm(4096 * 256) << A::Outside;
    QTest::newRow("Wrong") << confirm(26 * 256, rec_ResponseWrong) << A::Refused;
    QTest::newRow("Repeat") << confirm(26 * 256, rec_ResponseRepeat) << A::Refused;
    QTest::newRow("Wrong for the page before") << confirm(25 * 256, rec_ResponseWrong) << A::Refused;
    QTest::newRow("15 bytes") << confirm(26 * 256, rec_ResponseOK, 15) << A::NoConfirmation;
    QTest::newRow("17 bytes") << confirm(26 * 256, rec_ResponseOK, 17) << A::NoConfirmation;
}
