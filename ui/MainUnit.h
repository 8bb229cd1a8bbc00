// The main window: owns every control, the serial port, the timers and the
// working state. Its handlers are defined beside the subsystem they belong to
// (protocol/, serial/, content/, update/); the layout and the log live here.
#pragma once

#include "content/TextRecords.h"
#include "protocol/exchange.h"
#include "protocol/flashpage.h"
#include "protocol/receiver.h"
#include "serial/CPortTypes.h"
#include "serial/PortInfo.h"

#include <QColor>
#include <QElapsedTimer>
#include <QFont>
#include <QImage>
#include <QWidget>

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class EComPort;
class QCheckBox;
class QCloseEvent;
class QColor;
class QComboBox;
class QGroupBox;
class QHBoxLayout;
class QVBoxLayout;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTabWidget;
class QTimer;
class TComComboBox;
class TComPort;
class TLogView;
class TLogFind;
class TSpinEdit;

class TMainForm : public QWidget, public IReceiverHost {
    Q_OBJECT
public:
    // `portArg`: optional port given on the command line (empty: none).
    // Raises EComPort when the port list cannot be read.
    explicit TMainForm(const std::string& portArg = {}, QWidget* parent = nullptr);
    ~TMainForm() override;

    // ---- controls (objectName = member name) ----
    QTabWidget* PageControl;
    QWidget* tabBasic;
    QWidget* TabText;
    QWidget* TabGFX;
    QWidget* TabUpdate;

    QPushButton* btnOpenClose;
    TComComboBox* cbComName;
    TComComboBox* cbComSpeed;
    QPushButton* btshowStruc;
    QPushButton* btnTestConnection;
    QPushButton* btnRestart;
    QPushButton* btnClearScreen;
    QGroupBox* gbJasnosc;
    QCheckBox* cbAuto;
    TSpinEdit* seJasnosc;
    QPushButton* btnUstaw;
    QPushButton* btnPobierz;
    QGroupBox* GroupBox2;
    QLabel* lVersion;
    QPushButton* BitBtn2;
    QPushButton* btnClearMemo;

    QTabWidget* PageControlText;
    QWidget* TabStatText;
    QWidget* TabSheet2;
    QComboBox* cbstt;
    QComboBox* cbstb;
    QComboBox* cbst;
    TSpinEdit* sestX;
    TSpinEdit* sestY;
    QLabel* stImage;
    QCheckBox* cbAnimate;
    QComboBox* cbAnimating;
    QLineEdit* est;
    QPushButton* btnCbstSend;
    QComboBox* cbad;
    QComboBox* cbsdt;
    QComboBox* cbsdb;
    QComboBox* cbsd;
    QGroupBox* gbRamka;
    TSpinEdit* sedL;
    TSpinEdit* sedT;
    TSpinEdit* sedW;
    TSpinEdit* sedH;
    QGroupBox* gbAnimacja;
    TSpinEdit* sedHoriz;
    TSpinEdit* sedVert;
    QLineEdit* esd;
    QPushButton* btnCbsdSend;

    TSpinEdit* seLogo;
    QPushButton* btnSendLogo;

    QPushButton* btnFlash;
    QPushButton* BitBtn1;
    QPushButton* btnAutoRun;
    QPushButton* btnSet9600;
    QPushButton* btnSetHiSpeed;
    QProgressBar* pBar;

    QGroupBox* gbLog;
    TLogView* Memo1;
    TLogFind* LogFind; // the search under the log, shown on demand
    QLabel* lStat;

    // ---- non-visual components ----
    TComPort* ComPort1;
    QTimer* Timer1;
    QTimer* Timer2;

    // ---- working state ----
    TFrameReceiver Receiver{*this}; // RS232, myCom, myComSize, srs232
    tAutoTimer AutoTimer;
    // Period of one answer-wait tick; shortened only by benchmarks.
    int TickMs = cTimer1TickMs;
    tGetCommand GetCommand;
    tGetVersion GetVersion;

    // ---- window, log, status (ui/) ----
    void FormCreate();
    void AppendLog(const QString& line);
    void btnClearMemoClick();
    // A colour selector's own colour (its background), as the layout sets it
    // and the colour handlers change it.
    static void SetSelectorColour(QComboBox* box, const QColor& colour);
    static QColor SelectorColour(const QComboBox* box);

    // ---- IReceiverHost ----
    void LogLine(const std::string& line) override;
    void PauseMs(int ms) override;

    // Run at every pause, before the sleep (tests act there, e.g. inside a
    // delivery at a start byte).
    std::function<void(int ms)> PauseHook;

    // ---- receiver (protocol/) ----
    void ComPort1RxChar(TComPort* sender, std::int32_t count);
    // One piece through the receiver. An error escaping an answer handler is
    // shown in the error dialog, as for any handler, and the port goes on
    // delivering.
    void ProcessReceived(std::string_view chunk);
    // The handler's work with the bytes' source given: `count` bytes read
    // through `read` in pieces of at most the input queue's size, each one
    // processed by the receiver, while `stillOpen` holds.
    // A template: every delivery goes through here, with no call wrappers.
    template <class Read, class StillOpen>
    void ReceiveInPieces(std::int32_t count, std::int32_t inputSize, Read&& read,
                         StillOpen&& stillOpen);

    // ---- command exchange (protocol/) ----
    void send_cmd_TestConnect();
    void send_cmd_Restart();
    void send_cmd_UpgreadeCPU();
    void send_cmd_FillScreen();
    void send_cmd_getJasnosc();
    void send_cmd_setJasnosc();
    void send_cmd_putText(const TBytes& mystr);
    void send_cmd_putTextFrame(const TBytes& mystr);
    void send_cmd_Set9600();
    void send_cmd_Set115200();
    void send_cmd_putLogo(const TBytes& mystr);
    void send_cmd_GetVersion();
    void Timer1Timer();

    void fcmd_TestConnect() override;
    void fcmd_Restart() override;
    void fcmd_UpgreadeCPU() override;
    void fcmd_FillScreen() override;
    void fcmd_getJasnosc() override;
    void fcmd_setJasnosc() override;
    void fcmd_putText() override;
    void fcmd_putTextFrame() override;
    void fcmd_Set9600() override;
    void fcmd_Set115200() override;
    void fcmd_ProgramFlashPage() override;
    void fcmd_putLogo() override;
    void fcmd_GetVersion() override;

    // ---- device control (protocol/) ----
    void btnTestConnectionClick();
    void btnRestartClick();
    void btnClearScreenClick();
    void btnUstawClick();
    void btnPobierzClick();
    void seJasnoscChange();
    void cbAutoClick();
    void BitBtn2Click();
    void btnSet9600Click();
    void btnSetHiSpeedClick();

    // ---- connection control (serial/) ----
    bool IfOpenPort();
    // IfOpenPort without its box: false with what the box would say.
    bool TryOpenPort(QString& reason);
    // During an update: false, with the reason and the port closed, when the
    // port's name now leads to another adapter than the one the update began
    // on (recorded at its first page).
    bool KeepsUpdateAdapter(QString& reason);
    std::optional<TPortInfo> UpdateAdapter;
    void btnOpenCloseClick();
    void ComPort1LineLost();
    // "Utracono połączenie z portem ..." for the log and the box of a command whose write found it.
    QString LineLostText() const;
    QString WriteFailureText(const EComPort& e) const;

    // ---- display content (content/) ----
    void Init_StatycznyText();
    void Init_DynamicznyText();
    // Static text.
    void btnCbstSendClick();
    // The preview's bitmap and the drawing state it keeps between redraws.
    struct TCanvas {
        QImage Bitmap;
        QColor Brush; // fill
        QColor Pen;   // pen and font colour
        QFont Font;
    };
    void RepaintStImage();
    static void Font2Mono(TCanvas& Cnv);
    void cbstChange();
    void sestXChange();
    void sestYChange();
    void estChange();
    void cbsttChange();
    void cbstbChange();
    void stImageMouseMove(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers, int X, int Y);
    void cbAnimateClick();
    void cbAnimatingChange();
    void Timer2Timer();
    // Text windows.
    void cbadChange();
    void cbsdtChange();
    void cbsdbChange();
    void cbsdChange();
    void sedLChange();
    void sedTChange();
    void sedWChange();
    void sedHChange();
    void sedHorizChange();
    void sedVertChange();
    void esdChange();
    void btnCbsdSendClick();
    // Logo and structure listing.
    void btnSendLogoClick();
    void btshowStrucClick();
    void ShowStruct_SendText();
    void ShowStruct_SendTextFrame();

    tSendText SendText{};
    std::int32_t PosX = 0;
    std::int32_t PosY = 0;
    TCanvas StImageCanvas;
    tSendTextFrame SendTextFrame{};
    TWindowTextFrames WindowTextFrames;

    // ---- update (update/) ----
    // The file-open dialog's settings; FileName keeps the file picked last.
    struct TOpenDialog {
        QString Filter;
        QString DefaultExt;
        QString FileName = QStringLiteral("Flash");
    };
    TOpenDialog OpenDialog1;
    // Where an update stands. While it is not Idle the controls that send or
    // change the line are off.
    enum class TFlashStage { Idle, Transfer, Closing, AwaitCpu };
    TFlashStage FlashStage = TFlashStage::Idle;
    // The transfer under way: its kind (which closing step it takes) and first page.
    TTransferKind TransferKind = TTransferKind::Cpu;
    std::uint32_t TransferFirst = 0;
    // Its pages and the one on the line; none while no transfer runs.
    TTransferPages TransferPages() const;
    void btnFlashClick();
    void btnAutoRunClick();
    void BitBtn1Click();
    void UpgreadeFlash();
    void FlashingGFX();
    bool LoadFlash();
    // True when the page was written; else false with the reason (port
    // cannot be opened). A write error raises EComPort; a page outside the
    // transfer under way is never written and raises an error.
    bool SendFlashPage(std::uint32_t nrpart, QString* reason = nullptr);

signals:
    // The answer wait was armed, ended or ran out.
    void AnswerWaitChanged();

protected:
    // Closing the window releases the port at once.
    void closeEvent(QCloseEvent* event) override;

private:
    // One builder per tab, one for the log and the status line.
    void BuildLayout();
    QWidget* BuildBasicPage();
    QHBoxLayout* BuildPortRow(QWidget* panel);
    QGroupBox* BuildBrightnessGroup(QWidget* panel);
    QGroupBox* BuildInformationGroup(QWidget* panel);
    QWidget* BuildTextPage();
    QWidget* BuildStaticTextPage();
    QWidget* BuildTextWindowPage();
    QGroupBox* BuildFrameGroup();
    QGroupBox* BuildStepsGroup();
    QWidget* BuildGraphicsPage();
    QWidget* BuildUpdatePage();
    void BuildLogAndStatus(QVBoxLayout* root);
    void ConnectHandlers();
    // Each subsystem wires its own controls (defined beside its handlers).
    void ConnectPortHandlers();
    void ConnectDeviceHandlers();
    void ConnectContentHandlers();
    void ConnectUpdateHandlers();
    // Display content: the text typed into the window selector; the selected
    // window's entry; the static text page's settings.
    void cbadTextEdited(const QString& text);
    tWindowTextFrame& SelectedWindow();
    tStaticText StaticTextSettings(std::u16string_view text);
    void InitPreview();
    void ConnectPreviewMouse();
    // Ends the answer wait, whatever was awaited.
    void EndWait();
    // The same for an answer handler: a transfer's page wait is kept.
    void EndAnswerWait();
    // A transfer is under way and its page's confirmation awaited.
    bool PageAwaited() const;
    // Common to the answer handlers: ends the wait and keeps the answer.
    void TakeAnswer(std::array<std::uint8_t, cAnswerSize>& record);
    // The wait for a flash page's confirmation has run out.
    void FlashPageTimeout();
    void SetFlashStage(TFlashStage stage);
    // Ends the wait for the CPU command's answer once it is over.
    void CheckFlashStage();
    void SpeedAdvice();
    // The file picked and the start confirmed, with no update under way.
    bool ChooseAndConfirm(const QString& question);
    void StartTransfer(TTransferKind kind, std::uint32_t firstPart, int barMaximum);
    // A page of the transfer under way. One that cannot be written is told at
    // once and left awaited, so the resend question follows.
    void SendTransferPage(std::uint32_t nrpart);
    void CloseTransfer();
    // Ends the update's last stage when the answer wait shows it is over (queued).
    QMetaObject::Connection FlashWaitLink;
    // Sends a complete frame: seal, IfOpenPort, write, log, arm.
    void SendFrame(TBytes frame, std::uint8_t code);
    // The same telling nobody: false with the reason when the frame could not
    // be written (port cannot be opened, write error).
    bool TrySendFrame(TBytes frame, std::uint8_t code, QString& reason);
    // Write, note for the echo test, log, arm.
    void WriteCommandFrame(const TBytes& frame, std::uint8_t code);
    void SwitchSpeed(std::uint8_t code, TBaudRate rate, const char* speedText);
    void ReSpeedFromAnswer(TBaudRate rate);
    // Arms the answer wait for `code` and makes sure the countdown runs.
    // Also the page sender's way to arm (cmd_ProgramFlashPage).
    void ArmAutoTimer(std::uint8_t code);
    // Set while Timer1Timer runs, its message box included: the timer stays
    // off until the handler ends, so no second box can stack on the first.
    bool InTimer1Timer = false;
    // The answer wait's clock: started when a command is armed; the tick
    // periods already taken off `AutoTimer.interval`.
    QElapsedTimer TickClock;
    qint64 TicksCounted = 0;
};

template <class Read, class StillOpen>
void TMainForm::ReceiveInPieces(std::int32_t count, std::int32_t inputSize, Read&& read,
                                StillOpen&& stillOpen)
{
    // Taken in pieces no larger than the port's input queue, as a port with
    // that queue would deliver them: a frame's start is then handled before
    // the bytes behind it can overwrite it in the receiver's ring.
    const std::int32_t piece = std::clamp(inputSize, 1, cRingSize / 2);
    std::int32_t left = count;
    std::string str; // one buffer for all pieces
    do {
        if (left > 0)
            read(str, std::min(left, piece));
        left -= std::int32_t(str.size());
        // A read error goes back to the port; a handler's is shown here.
        ProcessReceived(str);
        // An answer handler may have closed or re-speeded the port; what is
        // still waiting then comes with the next delivery.
        if (str.empty() || !stillOpen())
            break;
    } while (left > 0);
}

