// The main window in tests: on a scripted dialog seam, either driving the
// controller emulator over its pseudo-terminal or on a given list of ports;
// and helpers for the operator log, the frames on the line and the selectors.
#pragma once

#include "emulator/Emulator.h"
#include "protocol/frame.h"
#include "serial/CPort.h"
#include "serial/CPortCtl.h"
#include "tests/common/Hex.h"
#include "tests/common/Pty.h"
#include "tests/common/ScriptedDialogs.h"
#include "tests/common/Wait.h"
#include "ui/Dialogs.h"
#include "ui/LogView.h"
#include "ui/MainUnit.h"
#include "ui/SpinEdit.h"

#include <QComboBox>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

inline const QString cTimeoutText = QStringLiteral("Brak potwierdzenia odebrania komendy do Quorvantela");
inline const QString cCantOpenText = QStringLiteral("Nie można otwortzyć portu ");

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

// The port selectors list exactly these names.
inline void ListPorts(std::vector<std::string> names)
{
    TComSelect::SetPortLister([names](std::vector<std::string>& ports) { ports = names; });
}

// The operator picks the item with `text` in `box` (as a click in the list does).
inline bool ChooseItem(QComboBox* box, const QString& text)
{
    const int i = box->findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive);
    if (i < 0)
        return false;
    box->setCurrentIndex(i);
    emit box->activated(i);
    return true;
}

inline QStringList ComboItems(const QComboBox* box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->itemText(i);
    return out;
}

// Installs the scripted seam for one scope.
struct TDialogsScope {
    TScriptedDialogs dialogs;
    TDialogsScope() { SetDialogs(&dialogs); }
    ~TDialogsScope() { SetDialogs(nullptr); }
};

// One window per test, with the emulator on the other end of its line
// (Start) or on a list of ports the selector offers.
struct TWindowRig {
    TDialogsScope scope;
    TScriptedDialogs& dialogs = scope.dialogs;
    TEmulator emu;
    std::unique_ptr<TMainForm> form;

    // The port name the window is given: the emulator's symlink if it has one.
    std::string link;
    explicit TWindowRig(TEmulator::Options options = {}) : emu(options), link(options.symlink) {}
    explicit TWindowRig(std::vector<std::string> ports, const std::string& portArg = {})
    {
        ListPorts(std::move(ports));
        form = std::make_unique<TMainForm>(portArg);
    }

    // Starts the emulator and builds the window on its slave side.
    [[nodiscard]] bool Start()
    {
        std::string error;
        if (!emu.Start(&error)) {
            qWarning("emulator: %s", error.c_str());
            return false;
        }
        form = std::make_unique<TMainForm>(link.empty() ? emu.SlavePath() : link);
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
    TMainForm& F() { return *form; }
    QString Caption() const { return form->btnOpenClose->text(); }
};

// Holds a device open with the exclusive lock the serial port takes, so that
// the tool cannot open it. A device that is missing cannot be opened anyway.
class TDeviceLock {
public:
    explicit TDeviceLock(const char* path)
    {
        fd_ = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ >= 0 && flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~TDeviceLock()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    TDeviceLock(const TDeviceLock&) = delete;
    TDeviceLock& operator=(const TDeviceLock&) = delete;

private:
    int fd_ = -1;
};

// Base of the test classes that want, in every test, a fresh window on a
// started emulator: `rig`.
class TWindowTest : public QObject {
    Q_OBJECT
protected:
    std::unique_ptr<TWindowRig> rig;
protected slots:
    // A derived class with a set-up of its own calls these from its own.
    void init();
    void cleanup();
};
