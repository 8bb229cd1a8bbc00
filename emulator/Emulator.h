// Emulator of the Quorvantel display controller on a pseudo-terminal pair.
// The tool (or a test) opens SlavePath() as its serial port; the emulator owns
// the master side, collects the frames it receives as the controller does and
// answers them. Faults can be scripted for the next answers. Plain C++ + POSIX.
//
// Behaviour worth knowing when writing tests against it:
// - A frame ends at the CR LF that completes its Size field (CR LF may occur
//   inside a frame); a Size no frame can have is not trusted, and then the
//   first CR LF ends it.
// - A dropped answer still has its effect (brightness, page, speed switch).
// - Speed commands (9, 10) and 3 switch the emulator's speed after the answer.
// - Bytes the tool sends at another speed are counted in GarbageBytes() and
//   never form frames; answers written while the tool listens at another
//   speed go out as garbage of the same length (GarbledAnswers()).
// - Answers written after the tool has closed the slave are lost (AnswersLost()):
//   they do not wait in the pty for the next open.
// - A page frame (code 11) must be a whole tProgramFlashPage (protocol/flashpage.h); a page beyond the flash is not
//   stored and is confirmed with rec_ResponseWrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class TEmulator {
public:
    struct Options {
        std::uint32_t firmwareVersion = 102; // Wersja (version*100)
        std::uint8_t boardVersion = 2;       // WersjaPCB
        std::uint8_t brightness = 0;
        bool pace = true;    // answers paced at 10 bit times per byte at the current speed
        int answerDelayMs = 0; // extra delay before each answer
        std::string symlink;   // if set, a symlink to the slave path is created (removed on Stop)
        // With pace: a frame received also takes its 10 bit times per byte
        // before it is answered, so a pty exchange lasts as long as on a line.
        bool paceFrames = false;
        // A loopback plug instead of a controller (see SetLoopback).
        bool loopback = false;
    };

    // Size of the flash memory image; it starts filled with cFlashErased.
    static constexpr std::size_t cFlashSize = 1048576;
    static constexpr std::uint8_t cFlashErased = 0xFF;

    TEmulator();
    explicit TEmulator(Options options);
    ~TEmulator(); // Stop()
    TEmulator(const TEmulator&) = delete;
    TEmulator& operator=(const TEmulator&) = delete;

    // Opens a pseudo-terminal pair (owns the master), starts the worker thread.
    // Returns false and fills *error on failure.
    // After Stop() it starts again on a new pair (an adapter plugged in
    // again; the symlink follows), keeping the flash image and the log.
    bool Start(std::string* error = nullptr);
    void Stop();
    // Closes the master side as if the adapter were unplugged (the slave then sees a hang-up).
    void Unplug();
    const std::string& SlavePath() const; // e.g. /dev/pts/7

    int Speed() const;     // the emulator's own line speed (9600 at start)
    int ToolSpeed() const; // the speed the tool has set on the slave side right now (termios of the pty)
    std::uint8_t Brightness() const;
    void SetBrightness(std::uint8_t);
    void SetVersion(std::uint32_t firmware, std::uint8_t board);
    void SetPace(bool);
    void SetPaceFrames(bool);
    void SetAnswerDelayMs(int);
    // Loopback: every byte received is written back at once, as by a wiring
    // test plug; frames are still collected and seen by the hook, but nothing
    // is answered or programmed. Switchable at any time.
    void SetLoopback(bool);

    // Faults, each applying to the next answer(s) only:
    void DropAnswers(int n);         // no answer to the next n good frames
    void CorruptChecksum(int n = 1); // next n answers carry a wrong ChSum
    // Next answer written in chunks with gaps (a chunk boundary may fall between CR and LF).
    void SplitAnswer(std::vector<std::size_t> chunkSizes, int gapMs);
    // Raw bytes written before the next answer, gapMs ahead of it (0: just before).
    void NoiseBeforeAnswer(std::string bytes, int gapMs = 0);
    void GlueAnswers();                        // the next two answers are written together as one chunk
    void AnswerWithCode(std::uint8_t code);    // next answer carries this code instead
    void ConfirmPageAt(std::uint32_t address); // next page confirmation names this address
    void SetResponse(std::uint8_t response, int n = 1); // next n answers carry this Response byte (2 or 3)
    // The next n page frames are refused as a controller that did not take
    // them: not programmed, and confirmed with this Response (2 or 3).
    void RefusePages(std::uint8_t response, int n = 1);
    // The next answer is written a second time, gapMs after the first.
    void RepeatAnswer(int gapMs);
    // Unsolicited bytes to the tool (at the current speed); written by the
    // worker, so this returns before they are on the line.
    void SendRaw(const std::string& bytes);

    // Observation (thread-safe):
    std::vector<std::string> Frames() const;   // every complete frame received, raw bytes, in order (also bad ones)
    std::vector<std::string> FrameLog() const; // the same as hex (StrToHex) lines
    bool WaitForFrames(std::size_t n, int timeoutMs) const; // waits with a deadline (condition variable)
    bool WaitForAnswers(std::size_t n, int timeoutMs) const;
    std::size_t AnswersSent() const; // answers written to the line (garbled ones included)
    std::size_t GarbledAnswers() const; // answers written as garbage because the speeds differed
    std::size_t AnswersLost() const;    // answers not written: nobody had the line open
    std::size_t GarbageBytes() const;             // bytes received while the tool's speed differed from ours
    std::vector<std::uint8_t> FlashImage() const; // memory image of flash pages received
    std::vector<std::uint32_t> PageAddresses() const; // addresses of pages received, in order
    // Indexes (address / 256) of the flash pages programmed since the start
    // or since ForgetWrittenPages(), in ascending order. Kept with the flash:
    // ClearLog() leaves them.
    std::vector<std::uint32_t> WrittenPages() const;
    void ForgetWrittenPages();
    // Forgets what was observed: frames, page addresses and the counters.
    // The flash image and the controller's state stay.
    void ClearLog();

    // Called on the worker thread for every complete frame received, before
    // it is answered. Set it before Start().
    using TFrameHook = std::function<void(const std::string& frame, bool checksumGood)>;
    void OnFrame(TFrameHook hook);

    // Writes the flash image to a file; false and *error on failure.
    bool WriteFlashImage(const std::string& path, std::string* error = nullptr) const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> d;
};
