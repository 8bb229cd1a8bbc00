// Start-up: the application, the visual style, the main window, the event loop.
//
// Environment hooks for unattended runs (tests, benchmarks, screenshots):
//   QV_SYS_CLASS_TTY=dir   read the port list from this folder instead of /sys/class/tty
//   QV_DIALOGS=stderr      boxes print their text to stderr instead of showing
//                          (messages: OK, questions: No, errors: OK)
//   QV_REPORT_SHOWN=1      print "QV_SHOWN <ms>" once the window has first been painted,
//                          <ms> counted from the start of main
//   QV_TAB=n[.m]           show tab n (from 0) of the main tab control, and tab m of
//                          the text tabs
//   QV_CLICK=a,b,...       after showing, click these buttons (object names) in turn,
//                          one every QV_CLICK_GAP_MS (default 300) milliseconds
//   QV_SCREENSHOT=file.png grab the window into the file QV_SCREENSHOT_MS (default 1500)
//                          milliseconds after showing, then quit
//   QV_QUIT_MS=n           quit n milliseconds after showing
#include "serial/CPort.h"
#include "serial/CPortCtl.h"
#include "ui/Dialogs.h"
#include "ui/MainUnit.h"
#include "ui/Style.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

class TStderrDialogs final : public IDialogs {
public:
    void Message(QWidget*, const QString& text) override { Print("MESSAGE", text); }
    bool Question(QWidget*, const QString& text) override
    {
        Print("QUESTION", text);
        return false;
    }
    void Error(QWidget*, const QString& text) override { Print("ERROR", text); }

private:
    static void Print(const char* kind, const QString& text)
    {
        std::fprintf(stderr, "%s: %s\n", kind, text.toUtf8().constData());
        std::fflush(stderr);
    }
};

class TShownReporter final : public QObject {
public:
    explicit TShownReporter(const QElapsedTimer& clock) : clock_(clock) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !reported_) {
            reported_ = true;
            std::printf("QV_SHOWN %lld\n", static_cast<long long>(clock_.elapsed()));
            std::fflush(stdout);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    const QElapsedTimer& clock_;
    bool reported_ = false;
};

int EnvInt(const char* name, int fallback)
{
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok ? v : fallback;
}

void ScheduleHooks(TMainForm& form)
{
    const QStringList tabs = qEnvironmentVariable("QV_TAB").split(QLatin1Char('.'));
    if (!tabs.value(0).isEmpty())
        form.PageControl->setCurrentIndex(tabs.value(0).toInt());
    if (!tabs.value(1).isEmpty())
        form.PageControlText->setCurrentIndex(tabs.value(1).toInt());

    const int clickGap = EnvInt("QV_CLICK_GAP_MS", 300);
    const QStringList clicks =
        qEnvironmentVariable("QV_CLICK").split(QLatin1Char(','), Qt::SkipEmptyParts);
    for (int i = 0; i < clicks.size(); ++i) {
        const QString name = clicks[i].trimmed();
        QTimer::singleShot(clickGap * (i + 1), &form, [&form, name] {
            if (auto* b = form.findChild<QAbstractButton*>(name))
                b->click();
            else
                std::fprintf(stderr, "QV_CLICK: no button %s\n", name.toUtf8().constData());
        });
    }

    const QString shot = qEnvironmentVariable("QV_SCREENSHOT");
    if (!shot.isEmpty()) {
        QTimer::singleShot(EnvInt("QV_SCREENSHOT_MS", 1500), &form, [&form, shot] {
            if (!form.grab().save(shot))
                std::fprintf(stderr, "QV_SCREENSHOT: cannot write %s\n", shot.toUtf8().constData());
            QApplication::quit();
        });
    }

    const int quitMs = EnvInt("QV_QUIT_MS", -1);
    if (quitMs >= 0)
        QTimer::singleShot(quitMs, &form, [] { QApplication::quit(); });
}

} // namespace

int main(int argc, char* argv[])
{
    QElapsedTimer clock;
    clock.start();

    // No application display name: Qt would append it to the window's
    // caption in the title bar.
    QApplication app(argc, argv);

    TStderrDialogs stderrDialogs;
    if (qEnvironmentVariable("QV_DIALOGS") == QLatin1String("stderr"))
        SetDialogs(&stderrDialogs);

    const QString sysClassTty = qEnvironmentVariable("QV_SYS_CLASS_TTY");
    if (!sysClassTty.isEmpty()) {
        const std::string dir = sysClassTty.toStdString();
        TComSelect::SetPortLister([dir](std::vector<std::string>& ports) {
            EnumComPortsFrom(dir, ports);
        });
    }

    // A style that cannot be applied leaves the plain look; nothing is said.
    ApplyVisualStyle(app);

    const std::string portArg = argc > 1 ? std::string(argv[1]) : std::string();
    std::unique_ptr<TMainForm> form;
    try {
        form = std::make_unique<TMainForm>(portArg);
    } catch (const EComPort& e) {
        // The port list cannot be read: the window never comes up.
        Dialogs().Error(nullptr, QString::fromUtf8(e.what()));
        return EXIT_FAILURE;
    }

    TShownReporter shown(clock);
    if (qEnvironmentVariableIsSet("QV_REPORT_SHOWN"))
        form->installEventFilter(&shown);

    form->show();
    ScheduleHooks(*form);
    const int rc = QApplication::exec();
    form.reset();
    return rc;
}
