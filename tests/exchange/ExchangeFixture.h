// Shared pieces of the command exchange tests: dialogs that record their
// texts, a main window driving the controller emulator over a pseudo-terminal,
// and helpers for the operator log and the frames on the line.
#pragma once

#include "emulator/Emulator.h"
#include "protocol/frame.h"
#include "serial/CPort.h"
#include "serial/CPortCtl.h"
#include "tests/common/ScriptedDialogs.h"
#include "tests/common/Wait.h"
#include "ui/Dialogs.h"
#include "ui/MainUnit.h"
#include "ui/SpinEdit.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>
#include <string>
#include <vector>

inline const QString cTimeoutText = QStringLiteral("Brak potwierdzenia odebrania komendy do Quorvantela");
inline const QString cCantOpenText = QStringLiteral("Nie można otwortzyć portu ");

// "1B 01 0A" -> raw bytes.
inline TBytes Hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', "")).toStdString();
}
inline QString HexText(const std::string& bytes) { return QString::fromStdString(StrToHex(bytes)); }

inline QStringList LogLines(const TMainForm& form)
{
    const QString text = form.Memo1->toPlainText();
    return text.isEmpty() ? QStringList{} : text.split(QLatin1Char('\n'));
}

inline QString SentLine(const TBytes& frame)
{
    return HexText(frame) + QStringLiteral(" wielkość: ") + QString::number(frame.size());
}

// A received answer's log line: the 16 groups, a second blank, "Wielkość: 16".
inline bool IsAnswerLine(const QString& line, std::uint8_t code)
{
    const QString head = HexText(std::string{char(cBusStart), char(code), 16, 0});
    if (!line.startsWith(head) || !line.endsWith(QStringLiteral("  Wielkość: 16")))
        return false;
    const TBytes bytes = QByteArray::fromHex(line.left(48).toLatin1()).toStdString();
    return bytes.size() == 16 && VerifyFrame(bytes);
}

// Processes events until `cond` holds or `ms` have passed; fine-grained, so
// a state seen between two close events is not missed.
// One emulator and one window on its pseudo-terminal per test.
struct TExchangeRig {
    TScriptedDialogs dialogs;
    TEmulator emu;
    std::unique_ptr<TMainForm> form;

    explicit TExchangeRig(TEmulator::Options options = {}) : emu(options) {}
    ~TExchangeRig()
    {
        form.reset();
        SetDialogs(nullptr);
    }

    // Starts the emulator and builds the window on its slave side.
    [[nodiscard]] bool Start()
    {
        SetDialogs(&dialogs);
        std::string error;
        if (!emu.Start(&error)) {
            qWarning("emulator: %s", error.c_str());
            return false;
        }
        form = std::make_unique<TMainForm>(emu.SlavePath());
        return true;
    }

    // Opens the emulator's port from elsewhere: its lock then keeps the
    // window from opening it. (Unplugging would free the pseudo-terminal's
    // number for another test's emulator running at the same time.)
    [[nodiscard]] std::unique_ptr<TComPort> HoldPort() const
    {
        auto holder = std::make_unique<TComPort>(nullptr);
        holder->SetEvents({});
        holder->SetPort(emu.SlavePath());
        holder->Open();
        return holder;
    }

    // The frames the emulator received, as hex text.
    QStringList Received() const
    {
        QStringList out;
        for (const auto& f : emu.Frames())
            out << HexText(f);
        return out;
    }
    bool Idle() const { return form->AutoTimer.cmd == 0; }
};
