#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tessaly::test {

// A stand-in for an external tool (adb, scrcpy, ping): an executable written into its
// own temporary folder that answers from a scripted table and records every call.
class StandInTool {
public:
    // One piece of output, written after `delayBefore` seconds.
    struct Chunk {
        std::string text {};
        bool toStderr = false;
        double delayBefore = 0;
        std::size_t repeat = 1; // the text is written this many times (floods without a huge table)
    };

    struct Answer {
        std::string out {}; // written to standard output first
        std::string err {}; // then to standard error
        int exitCode = 0;
        double delay = 0; // seconds to wait before exiting (after the output)
        std::vector<Chunk> chunks {}; // written next, in order
        bool ignoreSigterm = false;
        bool ignoreSigint = false;
        double backgroundChildSeconds = 0; // > 0: leaves a child that holds stdout/stderr open this long
        // Writes NAME=VALUE lines of its environment to stdout, after `out` and `err`.
        bool printEnvironment = false;
        int raiseSignal = 0; // > 0: ends by this signal instead of exiting
        // Reads its standard input to the end after its output, before `delay`; see inputs().
        bool readsInput = false;
    };

    // The answer to anything not scripted: exit 0, no output. Calls are recorded before the
    // answer plays, so a call that is stopped or times out is still listed.
    // `name` is the executable's file name ("adb", "scrcpy", "ping").
    explicit StandInTool(std::string name);
    // The same at <folder>/<name> (the folder is made when missing and left in place), for trees
    // that play a system's folders.
    StandInTool(std::string name, const std::string& folder);
    ~StandInTool();
    StandInTool(const StandInTool&) = delete;
    StandInTool& operator=(const StandInTool&) = delete;

    // Exact argument list -> answer. Scripting the same list (or prefix) again replaces the
    // earlier answer; rules may change between runs.
    void on(const std::vector<std::string>& arguments, const Answer& answer);
    // Exact argument list -> answers in turn; the last one repeats.
    void onSequence(const std::vector<std::string>& arguments, const std::vector<Answer>& answers);
    // Arguments that begin with `prefix` -> answer (exact rules are tried first, then prefixes in order).
    void onPrefix(const std::vector<std::string>& prefix, const Answer& answer);
    // Everything else (default: exit 0, no output).
    void otherwise(const Answer& answer);

    // Plays a phone from here on: its shared storage "/sdcard" is the folder `root`, and
    // "-s SERIAL ls PATH", "-s SERIAL push LOCAL PATH" and "-s SERIAL pull [-a] PATH LOCAL"
    // list and copy real bytes there. Scripted exact and prefix rules still answer first.
    // `bytesPerSecond` > 0 slows copies down; `vanishAfterBytes` >= 0 makes the phone go away
    // in the middle of the first copy that moves more than that many bytes, and stay away.
    struct PhoneOptions {
        double bytesPerSecond = 0;
        long long vanishAfterBytes = -1;
    };
    void playPhone(const std::string& root, const PhoneOptions& options);
    void playPhone(const std::string& root) { playPhone(root, PhoneOptions {}); }

    // Plays scrcpy `version` ("1.25", "2.4", "3.3.4", "4.1") from here on: its --help and
    // --version texts, and its refusal (message, exit status 1) of options it does not know or
    // reports as removed. Scripted rules still answer everything it accepts.
    void playScrcpy(const std::string& version);

    std::string path() const; // the executable
    std::string folder() const; // its temporary folder
    // Every argument list it was called with, in order.
    std::vector<std::vector<std::string>> calls() const;
    // What each call with `readsInput` read from its standard input, in order.
    std::vector<std::string> inputs() const;
    void clearCalls();

    // A row of the table the stand-in reads: 'E'xact, 'P'refix or 'O'therwise. The id names the
    // rule's sequence counter, so a replaced rule starts afresh.
    struct Rule {
        char kind = 'O';
        std::uint64_t id = 0;
        std::vector<std::string> arguments;
        std::vector<Answer> answers;
    };

private:
    void addRule(Rule rule);
    // Replaces the file <path()><ending> the stand-in reads.
    void writeBeside(const std::string& ending, std::string_view data);
    std::string m_name;
    std::string m_folder;
    std::vector<Rule> m_rules;
    std::uint64_t m_nextId = 1;
    bool m_ownsFolder = true;
};

// The real output of scrcpy releases, for tests and the stand-in: a file of the samples folder
// ("unknown-option-2.4.txt"; throws when missing), and a release's --help as playScrcpy plays it.
std::string scrcpySample(const std::string& name);
std::string scrcpyHelp(const std::string& version);

// Scripts `adb` to answer as the platform-tools release `version` ("29.0.6-debian",
// "35.0.2-12147458"): its `version` text, and before 30 no `pair` command, which adb 29 answers
// as every command it does not know: its help on standard output and exit status 1.
void actAsAdb(StandInTool& adb, const std::string& version);

} // namespace tessaly::test
