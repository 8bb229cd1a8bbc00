// The record a stopped transfer leaves, so that --resume goes on from the
// page where it stopped, with the same file, on the same port; and nothing
// else does without --force. One file per port in
// $XDG_STATE_HOME/quorvantel/ (by default ~/.local/state/quorvantel/).
#pragma once

#include <optional>
#include <string>

struct TResumeRecord {
    std::string port;    // the port's identity (PortIdentity)
    std::string path;    // the port as it was given, for the operator
    std::string command; // update-cpu or update-gfx
    std::string file;    // as it was given, for the operator
    std::string sha256;  // of the file
    int nextPage = 0;    // the first page not confirmed
    bool allConfirmed = false; // every page confirmed: command 3 alone is left
    bool command3Sent = false; // it went out, its answer did not come
    int speedFound = 9600;     // the speed to leave the controller at
    int speedLeft = 9600;      // the speed it listens at after the stop, as far as known
    // The adapter behind the port when the update began (AdapterIdentity:
    // "serial SN", else "usb VID:PID", else "") and its words for the operator.
    std::string adapter, adapterWords;

    // Written whole (a new file renamed over the old one); false and `error`.
    bool Save(std::string& error) const;
    static std::optional<TResumeRecord> Find(const std::string& port);
    // A record made under this port name, whatever adapter it was keyed by.
    static std::optional<TResumeRecord> FindGiven(const std::string& given);
    static void Remove(const std::string& port);
};

// What tells this port from another across runs: its USB adapter's serial
// number ("serial A50285BI") where it has one, else its resolved device path.
std::string PortIdentity(const std::string& port);
// The folder of the records.
std::string ResumeFolder();
