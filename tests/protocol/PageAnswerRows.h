// One table of received command-11 frames against the page on the line (26, of
// a transfer of pages 16 to 35), with what each means: both programs' tests run it.
#pragma once

#include "protocol/flashpage.h"

#include <QtTest>

Q_DECLARE_METATYPE(TPageAnswer)
inline constexpr int cRowFirst = 16, cRowLast = 35, cRowOnLine = 26;

inline void PageAnswerRows()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<TPageAnswer>("answer");
    using A = TPageAnswer;
    const struct { const char* name; std::uint32_t address; std::uint8_t response; int size; A answer; } rows[] = {
        {"the page on the line", 26 * 256, 1, 16, A::OnLine},  {"an address inside it", 26 * 256 + 4, 1, 16, A::OnLine},
        {"the page before", 25 * 256, 1, 16, A::Earlier},      {"the first page", 16 * 256, 1, 16, A::Earlier},
        {"a page ahead", 30 * 256, 1, 16, A::Later},           {"below the first page", 3 * 256, 1, 16, A::Outside},
        {"after the last page", 87 * 256, 1, 16, A::Outside},  {"beyond the table", 4096 * 256, 1, 16, A::Outside},
        {"Wrong", 26 * 256, 2, 16, A::Refused},                {"Repeat", 26 * 256, 3, 16, A::Refused},
        {"Wrong for the page before", 25 * 256, 2, 16, A::Refused},
        {"15 bytes", 26 * 256, 1, 15, A::NoConfirmation},      {"17 bytes", 26 * 256, 1, 17, A::NoConfirmation}};
    for (const auto& r : rows) {
        TBytes f = tProgramFlashPageConfirm::Build(r.address, r.response);
        r.size < 16 ? void(f.erase(13, 1)) : r.size > 16 ? void(f.insert(14, 1, '\x01')) : void();
        f[2] = char(f.size());
        SealFrame(f);
        QTest::newRow(r.name) << QByteArray::fromStdString(f) << r.answer;
    }
}
