#include "AutomationHooks.h"

#include "serial/CPort.h"
#include "serial/CPortCtl.h"
#include "ui/Dialogs.h"
#include "ui/MainUnit.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QMessageBox>
#include <QPixmap>
#include <QTabWidget>
#include <QTimer>

#include <cstdio>
#include <string>
#include <vector>

namespace {

class TStderrDialogs final : public IDialogs {
public:
    void Message(QWidget*, const QString& text) override { Print("MESSAGE", text); }
    void DetailedMessage(QWidget*, const QString& text, const QString& details) override
    {
        Print("MESSAGE", text);
        Print("DETAILS", details);
    }
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

// What the screenshot shows: a message box open at that moment (with its
// details unfolded, as an operator reading them sees it), else the window.
QWidget* ShotTarget(TMainForm& form)
{
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box)
        return &form;
    for (auto* b : box->findChildren<QAbstractButton*>())
        if (box->buttonRole(b) == QMessageBox::ActionRole)
            b->click(); // "Show Details..."
    QApplication::processEvents();
    return box;
}

void ScheduleTimedHooks(TMainForm& form)
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
            if (!ShotTarget(form)->grab().save(shot))
                std::fprintf(stderr, "QV_SCREENSHOT: cannot write %s\n", shot.toUtf8().constData());
            QApplication::quit();
        });
    }

    const int quitMs = EnvInt("QV_QUIT_MS", -1);
    if (quitMs >= 0)
        QTimer::singleShot(quitMs, &form, [] { QApplication::quit(); });
}

} // namespace

void InstallStartHooks()
{
    static TStderrDialogs stderrDialogs;
    if (qEnvironmentVariable("QV_DIALOGS") == QLatin1String("stderr"))
        SetDialogs(&stderrDialogs);

    const QString sysClassTty = qEnvironmentVariable("QV_SYS_CLASS_TTY");
    if (!sysClassTty.isEmpty()) {
        const std::string dir = sysClassTty.toStdString();
        TComSelect::SetPortLister([dir](std::vector<std::string>& ports) {
            EnumComPortsFrom(dir, ports);
        });
    }
}

void ScheduleShownHooks(TMainForm& form, const QElapsedTimer& clock)
{
    if (qEnvironmentVariableIsSet("QV_REPORT_SHOWN")) {
        // Parented to the window, so it goes with it.
        auto* shown = new TShownReporter(clock);
        shown->setParent(&form);
        form.installEventFilter(shown);
    }
    ScheduleTimedHooks(form);
}
