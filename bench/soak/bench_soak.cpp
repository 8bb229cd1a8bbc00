// Fault soak: the tool's protocol side (a window offscreen, its dialogs
// answered by a seam, every question Yes) against the controller emulator,
// which puts a fault into a share of its answers at random: dropped,
// corrupted, split, glued, noisy, wrong-code and wrong-page answers, Response
// 2 or 3, confirmations naming a page ahead or a page below the transfer's
// first one, pages refused (not programmed, confirmed with Response 2 or 3),
// answers nobody asked for, and phases in which the line is looped back (a
// wiring plug, local echo). The tool's speed is now and then switched alone,
// and the adapter is pulled out and plugged in again under the same name a
// few times. CPU firmware updates run in between (two whole images, the rest
// with short bodies); during their transfers the operator presses other
// controls and the adapter is pulled while the tool is inside a
// confirmation's delivery. At any time the adapter is also pulled while an
// answer's delivery is queued, and "Test connection" clicked meanwhile.
//
// After each update every flash page the controller programmed is checked:
// the file's pages against the file, and any page outside them is one
// written outside the transfer.
//
// This process is the supervisor and the controller; the tool side runs in a
// child (this program again, started with --tool-side), so a crash or a hang
// of the tool is seen and counted, and the memory, descriptor and thread
// figures are the tool's own. Prints a parameter line first and a summary
// table with every figure beside its goal last.
#include "Soak.h"

#include "bench/common/BenchKit.h"
#include "emulator/Emulator.h"
#include "protocol/flashpage.h"
#include "update/flash.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <random>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using TClock = std::chrono::steady_clock;
const char* const cFaultNames[] = {"dropped", "corrupted", "split",        "noise",
                                   "glued",   "wrong code", "wrong page",   "page ahead",
                                   "unasked answer", "echo phase", "page refused (2/3)", "below the first page",
                                   "Response 2/3"};
constexpr int cFaultKinds = int(std::size(cFaultNames));

// The controller's side: the emulator, its faults and what it checks.
class TBench {
public:
    explicit TBench(const TSoakParams& p) : p_(p), rng_(p.seed), emu_(MakeOptions(p)) {}
    bool Start(std::string& error);
    int Supervise();
    void PrintSummary() const;

private:
    const TSoakParams& p_;
    std::mt19937 rng_; // the emulator's worker only
    TEmulator emu_;
    std::vector<std::vector<std::uint8_t>> files_; // by update number, from 1
    std::vector<std::size_t> bodies_;              // bytes of each file that are sent
    std::atomic<int> current_{0};      // the update under way (0: none)
    std::atomic<long> frames_{0}, pages_{0}, cmd3_{0}, cmd3Bad_{0};
    std::atomic<long> injected_[cFaultKinds] = {};
    int echoLeft_ = 0; // frames still looped back (the emulator's worker only)
    long crashes_ = 0, hangs_ = 0, children_ = 0, badPages_ = 0, updatesChecked_ = 0;
    long pulls_ = 0, queuedPulls_ = 0, reportedBad_ = 0, outside_ = 0;
    std::map<std::string, long> attemptEnds_; // how update attempts ended
    TClock::time_point replugAt_{};
    bool pulled_ = false;
    long done_[3] = {}; // commands, updates, unplugs finished by earlier children
    long commandsBefore_ = 0; // commands of the tool sides before the last one
    std::map<std::string, double> result_; // the last tool side's report

    static TEmulator::Options MakeOptions(const TSoakParams& p)
    {
        TEmulator::Options o;
        o.pace = true;
        o.symlink = p.Link();
        return o;
    }
    void OnFrame(const std::string& frame, bool good);
    void InjectFault(std::uint8_t code, const std::string& frame);
    bool FileInFlash(int k, long* differing, long* outside = nullptr) const;
    void Replug();
    void Pull();
    std::string Answer(const std::string& request, long progress[3]);
    int RunChild();
};

bool TBench::Start(std::string& error)
{
    files_.resize(std::size_t(p_.Files()) + 1);
    bodies_.resize(files_.size());
    for (int k = 1; k <= p_.Files(); ++k) {
        files_[k] = bench::CpuUpdateFile(unsigned(k));
        bodies_[k] = files_[k].size();
        if (k > 2) {
            // Pages 16 to 32 + n: the header's page and n + 16 of body.
            const std::int32_t size = std::int32_t(256 * (k % 23));
            std::memcpy(files_[k].data() + offsetof(sflashrecord, size), &size, sizeof size);
            bodies_[k] = std::size_t(CpuLastPart(size) - cCpuFirstPart + 1) * 256;
        }
        if (!bench::WriteBytes(p_.CpuFile(k), files_[k])) {
            error = "cannot write " + p_.CpuFile(k);
            return false;
        }
    }
    emu_.OnFrame([this](const std::string& frame, bool good) { OnFrame(frame, good); });
    return emu_.Start(&error);
}

// Every page programmed since update k began: the file's pages must hold the
// file, and no other page may have been written. Counts the pages that differ
// (a page written outside the file's is one) and, apart, those outside.
bool TBench::FileInFlash(int k, long* differing, long* outside) const
{
    long bad = 0, out = 0;
    if (k < 1 || k > p_.Files())
        return false;
    const auto flash = emu_.FlashImage();
    const auto& file = files_[k];
    for (std::size_t at = 0; at < bodies_[k]; at += 256)
        bad += !std::equal(file.begin() + long(at), file.begin() + long(at + 256),
                           flash.begin() + long(cCpuImageOffset + at));
    const auto first = std::uint32_t(cCpuFirstPart), last = first + std::uint32_t(bodies_[k] / 256) - 1;
    for (const std::uint32_t page : emu_.WrittenPages())
        out += page < first || page > last;
    if (differing)
        *differing = bad + out;
    if (outside)
        *outside = out;
    return bad + out == 0;
}

// On the emulator's worker, before the frame is answered.
void TBench::OnFrame(const std::string& frame, bool good)
{
    ++frames_;
    if (!good || frame.size() < 2)
        return;
    const auto code = std::uint8_t(frame[1]);
    pages_ += code == cmd_ProgramFlashPage;
    if (code == cmd_UpgreadeCPU) {
        // Only a transfer complete in the flash may be followed by command 3.
        ++cmd3_;
        if (!FileInFlash(current_.load(), nullptr))
            ++cmd3Bad_;
    }
    // The loopback ends after a few frames; the last one is echoed and answered.
    if (echoLeft_ > 0) {
        if (--echoLeft_ == 0)
            emu_.SetLoopback(false);
        return;
    }
    if (int(rng_() % 100) < p_.faultPct)
        InjectFault(code, frame);
}

void TBench::InjectFault(std::uint8_t code, const std::string& frame)
{
    int kind = int(rng_() % unsigned(cFaultKinds));
    tProgramFlashPage page;
    const bool pageOnly = kind == 6 || kind == 7 || kind == 10 || kind == 11;
    if (pageOnly && !(code == cmd_ProgramFlashPage && page.Take(frame)))
        kind = cFaultKinds - 1;
    ++injected_[kind];
    switch (kind) {
    case 0: emu_.DropAnswers(1); break;
    case 1: emu_.CorruptChecksum(1); break;
    case 10: // the controller did not take this page
        emu_.RefusePages(std::uint8_t(rec_ResponseWrong + rng_() % 2), 1);
        break;
    case 11: // a page of the boot area, below the firmware's first page
        emu_.ConfirmPageAt(std::uint32_t(rng_() % cCpuFirstPart) * 256 + rng_() % 256);
        break;
    case 2: {
        std::vector<std::size_t> chunks(1 + rng_() % 5);
        for (auto& c : chunks)
            c = 1 + rng_() % 8;
        emu_.SplitAnswer(chunks, int(rng_() % 4));
        break;
    }
    case 3: {
        std::string noise(1 + rng_() % 12, '\0');
        for (auto& b : noise)
            b = char(rng_() % 4 == 0 ? cBusStart : rng_());
        emu_.NoiseBeforeAnswer(noise);
        break;
    }
    case 4: emu_.GlueAnswers(); break;
    case 5: {
        // Another command's answer must not end a transfer's wait either.
        static const std::uint8_t codes[] = {0, 14, 0x7F, 0xFF, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13};
        std::uint8_t c = code;
        while (c == code)
            c = codes[rng_() % std::size(codes)];
        emu_.AnswerWithCode(c);
        break;
    }
    case 6: {
        // An earlier page (a stale confirmation), or one beyond the flash.
        const std::uint32_t index = page.address() / 256;
        const std::uint32_t back = 1 + rng_() % 3;
        const std::uint32_t named = rng_() % 2 ? (index >= back ? index - back : 0) : 4096 + rng_() % 4096;
        emu_.ConfirmPageAt(named * 256 + rng_() % 256);
        break;
    }
    case 7: // a page after the one sent: taking it would skip pages
        emu_.ConfirmPageAt((page.address() / 256 + 1 + rng_() % 10) * 256);
        break;
    case 9:
        // This frame goes unanswered; the next few come back as they went.
        echoLeft_ = 1 + int(rng_() % 4);
        emu_.SetLoopback(true);
        break;
    case 8: {
        // An answer of another command, sealed and sent before this one's.
        TBytes answer("\x1b\x01\x10\0\0\0\0\0\0\0\0\0\x01\0\r\n", 16);
        answer[1] = char(1 + rng_() % 13);
        if (std::uint8_t(answer[1]) == code)
            answer[1] = char(code % 13 + 1);
        SealFrame(answer);
        emu_.SendRaw(answer);
        break;
    }
    default: emu_.SetResponse(std::uint8_t(rec_ResponseWrong + rng_() % 2), 1); break;
    }
}

std::string TBench::Answer(const std::string& request, long progress[3])
{
    std::istringstream in(request);
    std::string verb;
    in >> verb;
    if (verb == "progress") {
        in >> progress[0] >> progress[1] >> progress[2];
        return "ok";
    }
    if (verb == "speed")
        return std::to_string(emu_.Speed());
    if (verb == "unplug") {
        emu_.Stop(); // the master side closed; the link to it is gone
        return "ok";
    }
    if (verb == "plug") {
        std::string error;
        return emu_.Start(&error) ? "ok" : "error " + error;
    }
    if (verb == "pull") {
        // "pull" inside a running delivery, "pull queued" with one waiting.
        std::string how;
        in >> how;
        ++(how == "queued" ? queuedPulls_ : pulls_);
        Pull();
        return "ok";
    }
    if (verb == "result") {
        std::string kv;
        while (in >> kv) {
            const auto eq = kv.find('=');
            if (eq != std::string::npos)
                result_[kv.substr(0, eq)] = std::atof(kv.c_str() + eq + 1);
        }
        return "ok";
    }
    int k = 0;
    in >> k;
    if (verb == "update") {
        // Pages programmed since the last update ended were written with no
        // transfer under way.
        if (current_ == 0)
            outside_ += long(emu_.WrittenPages().size());
        emu_.ForgetWrittenPages();
        current_ = k;
        return "ok";
    }
    if (verb == "ended") {
        // How an update attempt ended: told (closing message, given up at a
        // question, a box about command 3) or silently.
        std::string how;
        in >> how;
        ++attemptEnds_[how];
        return "ok";
    }
    if (verb == "check") {
        // The tool says the transfer is complete: is the file all there?
        long differing = 0;
        FileInFlash(k, &differing);
        reportedBad_ += differing > 0;
        return std::to_string(differing);
    }
    if (verb == "updated") {
        long differing = 0, outside = 0;
        FileInFlash(k, &differing, &outside);
        badPages_ += differing - outside;
        outside_ += outside;
        ++updatesChecked_;
        current_ = 0;
        emu_.ForgetWrittenPages();
        return std::to_string(differing);
    }
    return "?";
}

// The adapter pulled while the tool is inside a delivery: plugged in again
// after a while, as a technician would, whatever the tool does meanwhile.
void TBench::Pull()
{
    emu_.Stop();
    pulled_ = true;
    replugAt_ = TClock::now() + std::chrono::milliseconds(p_.replugMs);
}

void TBench::Replug()
{
    if (!pulled_)
        return;
    pulled_ = false;
    std::string error;
    if (!emu_.Start(&error))
        std::fprintf(stderr, "soak: cannot plug in again: %s\n", error.c_str());
}

// Runs one tool side until it ends or hangs. Returns 0 when it finished its
// work and reported, 1 otherwise.
int TBench::RunChild()
{
    commandsBefore_ = done_[0];
    TSoakParams rest = p_;
    rest.commands = std::max(0L, p_.commands - done_[0]);
    const int updatesLeft = std::max(0, p_.updates + p_.shortUpdates - int(done_[1]));
    rest.updates = std::max(0, p_.updates - int(done_[1]));
    rest.shortUpdates = updatesLeft - rest.updates;
    rest.unplugs = std::max(0, p_.unplugs - int(done_[2]));
    rest.seed = p_.seed + unsigned(children_);
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0)
        return 1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    std::vector<std::string> args = rest.ToolArgs();
    args.insert(args.begin(), "bench_soak");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    ++children_;
    if (spawned != 0) {
        close(toChild[1]);
        close(fromChild[0]);
        return 1;
    }
    bench::TLineChannel channel(fromChild[0], toChild[1]);
    long progress[3] = {}, seen[4] = {-1, -1, -1, -1};
    auto lastProgress = TClock::now();
    bool reported = false, hung = false;
    for (;;) {
        std::string line;
        int waitMs = 1000;
        if (pulled_) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(replugAt_ - TClock::now());
            waitMs = int(std::clamp<long>(long(left.count()), 0, 1000));
        }
        const int got = channel.ReadLine(line, waitMs);
        if (pulled_ && TClock::now() >= replugAt_)
            Replug();
        if (got < 0)
            break;
        if (got > 0) {
            reported = reported || line.rfind("result ", 0) == 0;
            channel.Send(Answer(line, progress));
        }
        const long now[4] = {progress[0], progress[1], progress[2], frames_.load()};
        if (now[0] / 2000 != seen[0] / 2000)
            std::fprintf(stderr, "soak: %ld commands, %ld updates, %ld unplugs, %ld frames so far\n",
                         done_[0] + now[0], done_[1] + now[1], done_[2] + now[2], now[3]);
        if (!std::equal(now, now + 4, seen)) {
            std::copy(now, now + 4, seen);
            lastProgress = TClock::now();
        } else if (TClock::now() - lastProgress > std::chrono::seconds(p_.hangS)) {
            std::fprintf(stderr, "soak: no progress for %d s, the tool side is stopped\n", p_.hangS);
            // Where it stands, for whoever looks into it (gdb if installed).
            const std::string where = "gdb -p " + std::to_string(pid) +
                                      " -batch -ex 'thread apply all bt 12' >&2 2>/dev/null";
            if (std::system(where.c_str()) != 0)
                std::fprintf(stderr, "soak: no backtrace (gdb missing?)\n");
            kill(pid, SIGKILL);
            hung = true;
            break;
        }
    }
    channel.Close();
    Replug();
    int status = 0;
    waitpid(pid, &status, 0);

    for (int i = 0; i < 3; ++i)
        done_[i] += progress[i];
    if (hung) {
        ++hangs_;
        return 1;
    }
    const bool clean = WIFEXITED(status) && WEXITSTATUS(status) == 0 && reported;
    if (!clean) {
        ++crashes_;
        if (WIFSIGNALED(status))
            std::fprintf(stderr, "soak: the tool side ended by signal %d (%s)\n", WTERMSIG(status),
                         strsignal(WTERMSIG(status)));
        else
            std::fprintf(stderr, "soak: the tool side ended with status %d without its report\n",
                         WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    }
    return clean ? 0 : 1;
}

int TBench::Supervise()
{
    // A tool side that crashed or hung is replaced for the rest of the work.
    while (RunChild() != 0) {
        if (children_ >= 5) {
            std::fprintf(stderr, "soak: giving up after %ld tool sides\n", children_);
            return 1;
        }
    }
    // Pages programmed after the last update: none was under way.
    if (current_ == 0)
        outside_ += long(emu_.WrittenPages().size());
    return 0;
}

void TBench::PrintSummary() const
{
    auto r = [&](const char* key) {
        const auto it = result_.find(key);
        return it == result_.end() ? -1.0 : it->second;
    };
    const double commands = double(commandsBefore_) + std::max(0.0, r("commands"));
    std::printf("faults injected:");
    for (int i = 0; i < cFaultKinds; ++i)
        std::printf(" %s %ld%s", cFaultNames[i], injected_[i].load(), i + 1 < cFaultKinds ? "," : "\n");
    std::printf("exchanges: %.0f commands, %ld page frames, %.0f update attempts for %.0f updates, %.0f time-outs, "
                "%.0f questions (%.0f resend questions answered No after ten in a row without a page "
                "confirmed), %.0f error boxes, %.0f speed switches of the tool alone, "
                "%.0f unplugs, %.0f log clears, %ld tool sides\n",
                commands, pages_.load(), r("attempts"), r("updates"), r("timeouts"), r("questions"), r("givenup"),
                r("errors"), r("mismatches"), r("unplugs"), r("logclears"), children_);
    std::printf("during transfers: %ld adapters pulled inside a delivery, %.0f other controls pressed (%.0f of "
                "them enabled); adapters pulled with a delivery queued: %ld (%.0f during transfers), then %.0f "
                "clicks of \"Test connection\"; update attempts ended:",
                pulls_, r("presses"), r("pressestaken"), queuedPulls_, r("queuedpullsupdating"),
                r("queuedpresses"));
    for (const auto& [how, n] : attemptEnds_)
        std::printf(" %s %ld", how.c_str(), n);
    std::printf("\n");
    const double mib = 1048576.0;
    std::printf("%-62s %14s %12s %s\n", "figure", "value", "goal", "");
    auto row = [](const char* name, const std::string& value, const char* goal, bool ok) {
        std::printf("%-62s %14s %12s %s\n", name, value.c_str(), goal, ok ? "ok" : "MISSED");
    };
    auto num = [](double v, const char* fmt = "%.0f") {
        char b[64];
        std::snprintf(b, sizeof b, fmt, v);
        return std::string(b);
    };
    const double heapNoLog = r("heapgrownolog") / mib, heap = r("heapgrow") / mib;
    const double rssNoLog = r("rssgrownolog") / 1024.0, rss = r("rssgrow") / 1024.0;
    row("crashes", num(double(crashes_)), "0", crashes_ == 0);
    row("hangs (no progress, or a wait stuck 60 s)", num(double(hangs_) + std::max(0.0, r("stuck"))), "0",
        hangs_ == 0 && r("stuck") == 0);
    row("flash pages differing from the file", num(double(badPages_)), "0",
        badPages_ == 0 && updatesChecked_ == p_.updates + p_.shortUpdates);
    row("command 3 without a completed transfer", num(double(cmd3Bad_)), "0", cmd3Bad_ == 0);
    const long silent = attemptEnds_.count("silent") ? attemptEnds_.at("silent") : 0;
    row("updates that ended without the operator being told", num(double(silent)), "0", silent == 0);
    row("updates reported complete with a page differing from the file", num(double(reportedBad_)), "0",
        reportedBad_ == 0);
    row("pages written outside the transfer", num(double(outside_)), "0", outside_ == 0);
    const double windows = r("pullwindows");
    row("error boxes per pull (most; mean)",
        num(r("pullboxmax")) + "; " + num(windows > 0 ? r("pullboxsum") / windows : 0, "%.2f"), "<= 1",
        r("pullboxmax") >= 0 && r("pullboxmax") <= 1);
    row("commands sent", num(commands), num(double(p_.commands), ">= %.0f").c_str(),
        commands >= double(p_.commands));
    const long allUpdates = p_.updates + p_.shortUpdates;
    const long completed = attemptEnds_.count("completed") ? attemptEnds_.at("completed") : 0;
    row("complete CPU updates (command 3 received)", num(double(completed)) + " (" + num(double(cmd3_)) + ")",
        num(double(allUpdates), "%.0f").c_str(), completed == allUpdates && updatesChecked_ == allUpdates);
    row("heap growth after warm-up, log emptied (MiB)", num(heapNoLog, "%+.3f"), "< 1", heapNoLog < 1);
    row("RSS growth after warm-up, log emptied (MiB)", num(rssNoLog, "%+.3f"), "< 1", rssNoLog < 1);
    row("  the same with the log since its last clear (MiB)", num(heap, "%+.3f") + "/" + num(rss, "%+.3f"),
        "(info)", true);
    row("open descriptors start -> end", num(r("fd0")) + " -> " + num(r("fd1")), "equal", r("fd0") == r("fd1"));
    row("threads start -> end", num(r("thr0")) + " -> " + num(r("thr1")), "equal", r("thr0") == r("thr1"));
    row("CPU while idle after an unplug (% of a core, max)", num(r("idlepct"), "%.3f"), "< 0.5",
        r("idlepct") >= 0 && r("idlepct") < 0.5);
    std::printf("tool side peak RSS %.1f MiB\n", r("peak") / 1024.0);
}

} // namespace

int main(int argc, char** argv)
{
    TSoakParams p;
    bool toolSide = false;
    if (!p.Parse(argc, argv, toolSide))
        return 2;
    if (toolSide)
        return RunToolSide(argc, argv, p);

    char dirTemplate[] = "/tmp/qv-soak-XXXXXX";
    if (!mkdtemp(dirTemplate)) {
        std::perror("mkdtemp");
        return 1;
    }
    p.dir = dirTemplate;
    p.PrintLine();
    // A tool side writing to a closed pipe must not end this process.
    signal(SIGPIPE, SIG_IGN);
    int status = 1;
    {
        TBench b(p);
        std::string error;
        if (!b.Start(error)) {
            std::fprintf(stderr, "soak: %s\n", error.c_str());
            return 1;
        }
        const auto t0 = TClock::now();
        status = b.Supervise();
        std::printf("run time %.1f s\n",
                    std::chrono::duration<double>(TClock::now() - t0).count());
        b.PrintSummary();
    }
    for (int k = 1; k <= p.Files(); ++k)
        unlink(p.CpuFile(k).c_str());
    rmdir(p.dir.c_str());
    return status;
}
