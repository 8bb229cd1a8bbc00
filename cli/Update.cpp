#include "Update.h"

#include "Report.h"
#include "ResumeRecord.h"
#include "Session.h"
#include "serial/PortInfo.h"
#include "update/FileFacts.h"
#include "update/flash.h"
#include "protocol/exchange.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {
} // namespace

int LoadUpdateFile(const std::string& file, bool cpu, TOutput& out)
{
    try {
        if (!cpu) {
            LoadGraphics(file);
        } else if (!LoadCpuFirmware(file)) {
            out.Error(cBadCpuFileText, exitFileRefused);
            return exitFileRefused;
        }
    } catch (const EFlashFile& e) {
        out.Error(e.what(), exitFileRefused);
        return exitFileRefused;
    }
    return exitDone;
}

namespace {

const char* const cGfxDone = "Dane graficzne zostały zaktualizowane.";
const char* const cLineLost = "the line to the controller was lost";

// --resume on a port whose adapter is not the one the record names.
struct EOtherAdapter {
    std::string text;
};

class TUpdate {
public:
    TUpdate(const TRunContext& c, bool cpu) : s_(c), o_(c.o), cpu_(cpu), facts_(c.facts), record_(c.record) {}
    int Run();

private:
    // The file into the image and its SHA-256; an exit code when refused, else -1.
    int Load();
    // The first page and the speeds, from the record (--resume) or the
    // options. Raises EUsage.
    void Plan();
    void OpenLine();
    int Command3();
    // The version label text, or nothing when the controller does not answer.
    std::optional<std::string> ReadVersion();
    int GraphicsDone();
    // Where the transfer stopped, recorded, and how to go on. `why` names
    // the cause unless it is a signal or a page left unconfirmed.
    int Stopped(TExchangeResult r, const std::string& why = {});

    TSession s_;
    const TOptions& o_;
    const bool cpu_;
    const TFileFacts* const facts_; // the file loaded already, for every port
    TReportEntry* const record_;    // on record: versions, the end, the line to go on
    TResumeRecord rec_;
    int fileFirst_ = 0, first_ = 0, last_ = 0;
    int next_ = 0;              // the first page not confirmed, once the transfer is over
    bool inTransfer_ = false;   // ex.NextPage() tells where it is
    bool command3Only_ = false; // resumed with every page confirmed
    bool command3Sent_ = false;
    bool probe_ = false;        // the controller's speed is not known for sure
    int openAt_ = 9600;
};

int TUpdate::Load()
{
    const std::string& file = o_.args[0];
    if (facts_) { // loaded once for several ports; the table is only read
        rec_.sha256 = facts_->sha256;
        return -1;
    }
    if (const int refused = LoadUpdateFile(file, cpu_, s_.out))
        return refused;
    try {
        rec_.sha256 = FileSha256(file);
    } catch (const EFlashFile& e) {
        s_.out.Error(e.what(), exitFileRefused);
        return exitFileRefused;
    }
    return -1;
}

void TUpdate::Plan()
{
    fileFirst_ = first_ = cpu_ ? cCpuFirstPart : 0;
    last_ = SendFlash.PartFileSize;
    rec_.port = PortIdentity(o_.port);
    rec_.path = o_.port;
    rec_.command = o_.command;
    rec_.file = o_.args[0];
    rec_.speedFound = openAt_ = o_.speed;
    // The adapter behind the name now: a name may come back on another one.
    const auto info = PortInfoFor(PortPath(o_.port));
    rec_.adapter = info ? AdapterIdentity(*info) : "";
    rec_.adapterWords = info ? AdapterWords(*info) : PortPath(o_.port);
    if (o_.resume) {
        auto r = TResumeRecord::Find(rec_.port);
        if (!r)
            r = TResumeRecord::FindGiven(o_.port);
        if (!r)
            throw EUsage{"no stopped transfer is recorded for " + o_.port + ", so there is nothing to resume"};
        if (r->adapter != rec_.adapter)
            throw EOtherAdapter{"the adapter behind " + o_.port + " is " + rec_.adapterWords +
                                ", not the one the stopped update began on, " + r->adapterWords +
                                "; nothing was sent (the controller on it may be another one)"};
        if (r->command != o_.command || r->sha256 != rec_.sha256)
            throw EUsage{"the stop recorded for " + o_.port + " is of " + r->command + " " + r->file +
                         " (SHA-256 " + r->sha256 + "), not of this file: resume with that file"};
        if (r->nextPage < first_ || r->nextPage > last_ + 1)
            throw EUsage{"the stop recorded for " + o_.port + " names page " + std::to_string(r->nextPage) +
                         ", which this file does not have"};
        first_ = r->nextPage;
        command3Only_ = cpu_ && (r->allConfirmed || first_ > last_);
        rec_.speedFound = r->speedFound;
        openAt_ = o_.speedGiven ? o_.speed : r->speedLeft;
        probe_ = !o_.speedGiven && r->speedLeft != r->speedFound;
    } else if (o_.from) {
        if (*o_.from < first_ || *o_.from > last_)
            throw EUsage{"--from must be " + std::to_string(first_) + " to " + std::to_string(last_) +
                         " for this file"};
        if (!o_.force)
            throw EUsage{"--from trusts that the pages before it are on the controller: give --force as well, "
                         "or go on from a recorded stop with --resume"};
        first_ = *o_.from;
    }
    next_ = first_;
}

void TUpdate::OpenLine()
{
    s_.line.Open(openAt_);
    // After a lost line the controller may still listen at the speed it was
    // left at, or have been started afresh at the speed it was found at.
    if (probe_ && s_.ex.Command(BuildCommandFrame(cmd_TestConnect), 0) == TExchangeResult::NoAnswer)
        s_.line.SetSpeed(rec_.speedFound);
}

int TUpdate::Run()
{
    if (const int refused = Load(); refused >= 0)
        return refused;
    try {
        Plan();
    } catch (const EOtherAdapter& e) {
        s_.out.Error(e.text, exitPortFailed);
        return exitPortFailed;
    }
    OpenLine();
    if (record_) {
        // On record: the update starts only once the controller has told its version.
        record_->versionBefore = ReadVersion();
        if (!record_->versionBefore)
            return s_.Fail(s_.Stopping() ? TExchangeResult::Interrupted : TExchangeResult::NoAnswer);
    }
    if (!command3Only_) {
        if (o_.fast && s_.line.Speed() != 115200) {
            const TExchangeResult r = s_.SwitchSpeed(115200);
            if (r == TExchangeResult::Interrupted)
                return s_.Fail(r);
            if (r != TExchangeResult::Answered) {
                const std::string why = r == TExchangeResult::Refused ? RefusedText(s_.ex.LastResponse()) + ": it"
                                                                      : std::string("the controller");
                s_.out.Error(why + " did not switch to 115200 bit/s; nothing was sent", exitNoAnswer);
                return exitNoAnswer;
            }
        }
        if (cpu_)
            s_.out.Note(CpuVersionLine(CpuHeaderFacts(flashrec)));
        s_.out.Start(first_, last_ - first_ + 1);
        inTransfer_ = true;
        TExchangeResult r;
        try {
            r = s_.ex.Transfer(first_, last_, [](int k) {
                return TPageRef{SendFlash.Part[k].adres, SendFlash.Part[k].buf};
            });
        } catch (const std::exception&) {
            return Stopped(TExchangeResult::NoAnswer, cLineLost);
        }
        if (r != TExchangeResult::Answered)
            return Stopped(r);
        inTransfer_ = false;
        next_ = last_ + 1;
        s_.out.EndProgress();
    }
    return cpu_ ? Command3() : GraphicsDone();
}

int TUpdate::Command3()
{
    if (s_.Stopping())
        return Stopped(TExchangeResult::Interrupted);
    // Sent once: the controller programs its CPU on it and then listens at 9600.
    TExchangeResult r;
    try {
        command3Sent_ = true;
        r = s_.ex.Command(BuildCommandFrame(cmd_UpgreadeCPU), 0);
    } catch (const std::exception&) {
        return Stopped(TExchangeResult::NoAnswer, std::string(cLineLost) + " while command 3's answer was awaited");
    }
    if (r == TExchangeResult::Interrupted) { // stopped before it went out
        command3Sent_ = false;
        return Stopped(r);
    }
    if (r == TExchangeResult::Refused)
        return Stopped(r, RefusedText(s_.ex.LastResponse()) + " to command 3");
    if (r != TExchangeResult::Answered)
        return Stopped(r, std::string(cNoAnswer) + " (command 3)");
    s_.line.SetSpeed(9600);
    TResumeRecord::Remove(rec_.port);
    if (record_) {
        // The controller restarts on its new firmware: a patient wait, and
        // no answer is no failure.
        s_.ex.AnswerWaitMs = 3000;
        s_.ex.StopFlag = nullptr;
        try {
            record_->versionAfter = ReadVersion();
        } catch (const std::exception&) {
        }
    }
    s_.out.Result("cmd_UpgradeCPU");
    return exitDone;
}

int TUpdate::GraphicsDone()
{
    TResumeRecord::Remove(rec_.port);
    // Every page is in: the speed goes back whatever is asked meanwhile.
    s_.ex.StopFlag = nullptr;
    const int found = rec_.speedFound;
    bool back = s_.line.Speed() == found;
    try {
        back = back || s_.SwitchSpeed(found) == TExchangeResult::Answered;
    } catch (const std::exception&) {
    }
    if (!back) {
        s_.out.Error(std::string("Dane graficzne zostały zaktualizowane, but the controller did not switch back to ") +
                         std::to_string(found) + " bit/s",
                     exitNoAnswer);
        return exitNoAnswer;
    }
    s_.out.Result(cGfxDone);
    return exitDone;
}

std::optional<std::string> TUpdate::ReadVersion()
{
    if (s_.ex.Command(BuildCommandFrame(cmd_GetVersion)) != TExchangeResult::Answered)
        return std::nullopt;
    tGetVersion v;
    std::copy_n(reinterpret_cast<const std::uint8_t*>(s_.ex.Answer().data()),
                std::min(s_.ex.Answer().size(), cAnswerSize), v.raw.begin());
    return VersionLabelText(v);
}

int TUpdate::Stopped(TExchangeResult r, const std::string& why)
{
    if (record_ && r == TExchangeResult::Refused)
        record_->result = "refused";
    if (inTransfer_)
        next_ = std::min(s_.ex.NextPage(), last_ + 1);
    const bool lost = why.rfind(cLineLost, 0) == 0;
    // Back to the speed the controller was found at, unless the line is gone
    // or command 3 went out (the controller then switches by itself).
    if (s_.line.Speed() != rec_.speedFound && !lost && !command3Sent_) {
        s_.ex.StopFlag = nullptr;
        try {
            s_.SwitchSpeed(rec_.speedFound);
        } catch (const std::exception&) {
        }
    }
    std::string text;
    if (r == TExchangeResult::Interrupted) {
        text = "interrupted; ";
    } else if (r == TExchangeResult::Refused && inTransfer_) {
        text = RefusedText(s_.ex.LastResponse(), next_) + "; ";
    } else if (!why.empty()) {
        text = why + (inTransfer_ ? " at page " + std::to_string(next_) : "") + "; ";
    } else {
        char address[16];
        std::snprintf(address, sizeof address, "%08X", unsigned(SendFlash.Part[next_].adres));
        text = "page " + std::to_string(next_) + " ($" + address + ") was not confirmed after " +
               std::to_string(1 + o_.retries) + " tries; ";
    }
    // Pages before the first of this run were confirmed in the run recorded.
    const int from = o_.resume ? fileFirst_ : first_;
    text += next_ > from ? "pages " + std::to_string(from) + "-" + std::to_string(next_ - 1) + " confirmed"
                         : std::string("no page confirmed");
    if (cpu_)
        text += command3Sent_ ? ", command 3 was already sent" : ", no CPU command sent";
    rec_.nextPage = next_;
    rec_.allConfirmed = next_ > last_;
    rec_.command3Sent = command3Sent_;
    rec_.speedLeft = s_.line.Speed();
    std::string error;
    std::string goOn;
    if (rec_.Save(error)) {
        goOn = ResumeLine(o_);
        text += ". Go on with:\n  " + goOn;
    } else {
        goOn = ResumeLine(o_, "--speed " + std::to_string(rec_.speedLeft) + " --from " +
                                  std::to_string(std::min(next_, last_)) + " --force");
        text += ". The stop could not be recorded (" + error + "); go on with:\n  " + goOn;
    }
    if (record_)
        record_->resume = goOn;
    const int code = r == TExchangeResult::Interrupted ? s_.StopCode() : exitNoAnswer;
    s_.out.Error(text, code);
    return code;
}

} // namespace

int RunUpdate(TRunContext& c, bool cpu) { return TUpdate(c, cpu).Run(); }
