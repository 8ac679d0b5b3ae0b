#include <unistd.h>

#include <gtest/gtest.h>

#include "support/ControllerFakes.h"
#include "support/StandInTool.h"

namespace tessaly {
namespace {

using test::deviceList;
using test::StandInTool;
using Args = std::vector<std::string>;

const Args kDevices { "devices", "-l" };
const Args kSessionOfR58N { "-s", "R58N", "--window-title=Tessaly" }; // a prefix

Args mirrorArgs(const std::string& serial, std::initializer_list<std::string> rest)
{
    Args args { "-s", serial, "--window-title=Tessaly", "--no-terminal-title", "--force-adb-forward" };
    args.insert(args.end(), rest);
    return args;
}

// The scrcpy calls that started mirroring (not encoder queries).
std::vector<Args> sessions(const StandInTool& scrcpy)
{
    std::vector<Args> found;
    for (const Args& call : scrcpy.calls())
        if (call.size() > 2 && call[2] == "--window-title=Tessaly")
            found.push_back(call);
    return found;
}

struct MirrorRig : test::ControllerRig {
    std::unique_ptr<AppState> state;

    explicit MirrorRig(std::vector<std::string> phones = { "R58N device usb:1-1 model:Pixel_7" })
    {
        adb.on(kDevices, deviceList(phones));
    }
    AppState& make()
    {
        state = ControllerRig::make();
        return *state;
    }
    void mirror()
    {
        state->mirror();
        ASSERT_TRUE(test::waitUntilIdle(*state, 10000));
    }
    void waitForEnd()
    {
        ASSERT_TRUE(test::waitFor([&] { return !state->isMirroring(); }, 10000));
        ASSERT_TRUE(test::waitUntilIdle(*state, 10000));
    }
};

TEST(AppStateMirroringTest, LaunchFollowsPresetOptionsLinkQualityAndAsksTheEncoderOnce)
{
    struct Case {
        std::string phone;
        QualityPreset preset;
        bool everythingOn, stayAwake;
        std::string encoders, ping, label;
        Args expected;
    };
    const std::string hardware = "    --video-codec=h264 --video-encoder=c2.qti.avc.encoder (hw) [vendor]\n";
    const std::string usb = "R58N device usb:1 model:Pixel_7",
                      wifi = "192.168.1.40:5555 device model:Pixel_7";
    const std::string tuning = "--video-codec-options=bitrate-mode:int=2,priority:int=0,latency:int=1";
    const auto overWiFi = [&](const std::string& bitRate, std::initializer_list<std::string> encoder) {
        Args args = mirrorArgs("192.168.1.40:5555",
            { "--video-codec=h264", "--max-size=800", "--video-bit-rate=" + bitRate, "--max-fps=60",
                tuning });
        args.insert(args.end(), encoder);
        args.insert(args.end(), { "--stay-awake", "--no-audio", "--no-mouse-hover" });
        return args;
    };
    std::string fast, slow;
    for (int seq = 1; seq <= 8; ++seq) {
        const std::string head
            = "64 bytes from 192.168.1.40: icmp_seq=" + std::to_string(seq) + " ttl=64 time=";
        fast += head + "4.1 ms\n";
        slow += head + "45.0 ms\n";
    }
    const std::string weak = "Auto → Low latency, 2 Mbps (weak Wi-Fi)";
    const Case cases[] {
        { usb, QualityPreset::automatic, false, true, hardware, "", "Auto → Best (USB)",
            mirrorArgs("R58N", { "--max-fps=60", "--stay-awake", "--no-audio" }) },
        { usb, QualityPreset::best, true, true, hardware, "", "Best (USB)",
            mirrorArgs("R58N",
                { "--max-fps=60", "--turn-screen-off", "--keep-active", "--power-off-on-close",
                    "--stay-awake", "--keyboard=uhid", "--print-fps" }) },
        { wifi, QualityPreset::automatic, false, true, "", fast, "Auto → Low latency (Wi-Fi)",
            overWiFi("4M", {}) },
        { wifi, QualityPreset::automatic, false, true, "", slow, weak, overWiFi("2M", {}) },
        { wifi, QualityPreset::automatic, false, true, "", "", weak, overWiFi("2M", {}) },
        { wifi, QualityPreset::lowLatency, false, true, hardware, "", "Low latency (Wi-Fi)",
            overWiFi("4M", { "--video-encoder=c2.qti.avc.encoder" }) },
        { usb, QualityPreset::lowLatency, false, false, "    --video-codec=h264 (sw)", "",
            "Low latency (Wi-Fi)",
            mirrorArgs("R58N",
                { "--video-codec=h264", "--max-size=800", "--video-bit-rate=4M", "--max-fps=60", tuning,
                    "--no-audio" }) },
        { usb, QualityPreset::smooth, false, true, hardware, "", "Smooth (Wi-Fi)",
            mirrorArgs("R58N",
                { "--max-size=1024", "--video-bit-rate=4M", "--max-fps=60",
                    "--video-codec-options=bitrate-mode:int=2", "--stay-awake", "--no-audio" }) },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.phone + " " + c.label);
        MirrorRig rig({ c.phone });
        const Args encoderQuery { "-s", c.expected[1], "--list-encoders" };
        rig.scrcpy.on(encoderQuery, { .out = c.encoders });
        rig.ping.otherwise({ .out = c.ping });
        AppState& state = rig.make();
        state.setPreset(c.preset);
        for (const auto setter : { &AppState::setPocketMode, &AppState::setRealKeyboard, &AppState::setAudio,
                 &AppState::setShowFPS })
            (state.*setter)(c.everythingOn);
        state.setStayAwake(c.stayAwake);
        std::vector<std::string> labels;
        QObject::connect(&state, &AppState::mirroringChanged, [&] {
            if (state.mirroringLabel())
                labels.push_back(*state.mirroringLabel());
        });
        for (int run = 0; run < 2; ++run) {
            rig.mirror();
            rig.waitForEnd();
        }
        EXPECT_EQ(sessions(rig.scrcpy), std::vector<Args>(2, c.expected));
        EXPECT_EQ(labels, std::vector<std::string>(2, c.label));
        const auto calls = rig.scrcpy.calls();
        const bool measured = c.phone == wifi && c.preset == QualityPreset::automatic;
        const Args pinged { "-n", "-c", "8", "-i", "0.1", "-w", "4", "192.168.1.40" };
        // Only the low-latency settings name an encoder; a measurement under a minute old is reused.
        EXPECT_EQ(
            std::count(calls.begin(), calls.end(), encoderQuery), c.expected[5] == "--video-codec=h264");
        EXPECT_EQ(rig.ping.calls(), measured ? std::vector<Args> { pinged } : std::vector<Args> {});
        EXPECT_TRUE(rig.presenter->errors.empty());
    }
}

TEST(AppStateMirroringTest, SessionPublishesFrameRateAndPocketModeAndEndsWithARefresh)
{
    MirrorRig rig;
    rig.scrcpy.onPrefix(kSessionOfR58N,
        { .delay = 0.8,
            .chunks = { { .text = "INFO: Renderer: opengl\r\n" },
                { .text = "INFO: 58 fps (+3 frames skipped)\r\n" } } });
    AppState& state = rig.make();
    state.setShowFPS(true);
    state.setPocketMode(true);
    rig.mirror();
    EXPECT_TRUE(state.mirroringInPocketMode());
    EXPECT_EQ(state.mirroredSerial(), "R58N");
    ASSERT_TRUE(test::waitFor([&] { return state.fps().has_value(); }));
    EXPECT_EQ(state.mirroringLine(), "Mirroring: Auto → Best (USB) · 58 fps (+3 skipped)");

    const auto listsBefore = rig.adb.calls().size();
    rig.waitForEnd();
    EXPECT_FALSE(state.mirroringInPocketMode());
    EXPECT_EQ(state.mirroringLine(), std::nullopt);
    EXPECT_EQ(rig.adb.calls().size(), listsBefore + 1); // the refresh after the end
    EXPECT_TRUE(rig.presenter->errors.empty());
}

TEST(AppStateMirroringTest, ReconnectsToRememberedAddressesHotspotFirst)
{
    struct Case {
        bool lastWasHotspot;
        std::optional<std::string> router, lastPhoneIP;
        std::vector<std::string> tried;
        bool lastAnswers = false;
    };
    const Case cases[] {
        { true, "192.168.43.1", "192.168.1.40", { "192.168.43.1", "192.168.1.40" } },
        { true, "192.168.43.1", "192.168.1.40", { "192.168.43.1" }, true },
        { true, "192.168.43.1", "192.168.43.1", { "192.168.43.1" } },
        { false, "192.168.1.1", "8.8.8.8", {} },
        { true, std::nullopt, "10.0.0.5", { "10.0.0.5" } },
        { false, "192.168.43.1", std::nullopt, {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.router.value_or("-") + " " + c.lastPhoneIP.value_or("-"));
        MirrorRig rig(std::vector<std::string> {});
        rig.network->routerIP = c.router;
        rig.defaults->writeBool("lastWasHotspot", c.lastWasHotspot);
        if (c.lastPhoneIP)
            rig.defaults->writeString("lastPhoneIP", *c.lastPhoneIP);
        rig.adb.otherwise({ .out = "failed to connect to the phone" });
        if (c.lastAnswers)
            rig.adb.onSequence(kDevices, { deviceList({}), deviceList({ c.tried.back() + ":5555 device" }) });
        rig.make();
        rig.mirror();
        rig.waitForEnd();

        std::vector<Args> expected { kDevices };
        for (const std::string& address : c.tried)
            expected.insert(expected.end(), { { "connect", address + ":5555" }, kDevices });
        if (c.lastAnswers)
            expected.push_back(kDevices); // the refresh after the session
        EXPECT_EQ(rig.adb.calls(), expected);
        EXPECT_EQ(rig.clock->sleeps, std::vector<double>(c.tried.size(), 0.5));
        EXPECT_EQ(sessions(rig.scrcpy).size(), c.lastAnswers ? 1u : 0u);
        if (c.lastAnswers)
            continue;
        ASSERT_EQ(rig.presenter->errors.size(), 1u);
        EXPECT_EQ(rig.presenter->errors[0].title, "Phone not found.");
        EXPECT_EQ(rig.presenter->errors[0].details, c.tried.empty() ? "" : "failed to connect to the phone");
    }
}

TEST(AppStateMirroringTest, FailuresBeforeTheLaunchAreReported)
{
    const auto firstError = [](MirrorRig& rig) {
        rig.make();
        rig.mirror();
        EXPECT_TRUE(sessions(rig.scrcpy).empty());
        EXPECT_FALSE(rig.state->isMirroring());
        EXPECT_EQ(rig.state->busyMessage(), std::nullopt);
        return rig.presenter->errors.empty() ? FriendlyError {} : rig.presenter->errors[0];
    };
    MirrorRig noScrcpy;
    noScrcpy.withScrcpy = false;
    EXPECT_EQ(firstError(noScrcpy), AppState::missingToolsError());
    EXPECT_TRUE(noScrcpy.adb.calls().empty());

    MirrorRig unauthorized({ "R58N unauthorized usb:1-1 transport_id:2" });
    EXPECT_EQ(firstError(unauthorized).title, "Your phone is waiting for permission.");

    MirrorRig unstartable;
    ::unlink(unstartable.scrcpy.path().c_str());
    const FriendlyError error = firstError(unstartable);
    EXPECT_EQ(error.title, "Couldn't start scrcpy.");
    EXPECT_EQ(error.advice, "Try reinstalling it with: sudo apt install --reinstall scrcpy");
    EXPECT_FALSE(error.details.empty());
}

TEST(AppStateMirroringTest, EncoderRefusalRetriesOnceInBasicModeOnlyWithinTwentySeconds)
{
    const Args basic = mirrorArgs("R58N",
        { "--video-codec=h264", "--max-size=800", "--video-bit-rate=4M", "--max-fps=60", "--stay-awake",
            "--no-audio" });
    Args tuned = basic;
    tuned.insert(tuned.end() - 2, "--video-codec-options=bitrate-mode:int=2,priority:int=0,latency:int=1");
    const std::string refusal = "ERROR: Could not create video encoder";
    for (const double after : { 19.9, 20.0 }) {
        SCOPED_TRACE(after);
        MirrorRig rig;
        rig.scrcpy.on(tuned, { .out = refusal, .exitCode = 1, .delay = 0.4 });
        rig.scrcpy.onPrefix(kSessionOfR58N, { .delay = 0.4 });
        AppState& state = rig.make();
        state.setPreset(QualityPreset::lowLatency);
        rig.mirror();
        ASSERT_TRUE(state.isMirroring());
        rig.clock->current += after;
        if (after >= 20) {
            rig.waitForEnd();
            EXPECT_EQ(sessions(rig.scrcpy), std::vector<Args> { tuned });
            ASSERT_EQ(rig.presenter->errors.size(), 1u);
            EXPECT_EQ(rig.presenter->errors[0].title, "Mirroring stopped unexpectedly.");
            EXPECT_EQ(rig.presenter->errors[0].details, refusal);
            continue;
        }
        ASSERT_TRUE(test::waitFor([&] { return sessions(rig.scrcpy).size() == 2 && state.isMirroring(); }));
        EXPECT_EQ(state.mirroringLabel(), "Low latency (Wi-Fi) – basic mode");
        rig.waitForEnd();
        rig.mirror(); // the phone stays in basic mode from now on
        rig.waitForEnd();
        EXPECT_EQ(sessions(rig.scrcpy), (std::vector<Args> { tuned, basic, basic }));
        EXPECT_TRUE(rig.presenter->errors.empty());
    }
}

TEST(AppStateMirroringTest, FailedSessionsAreExplained)
{
    const std::tuple<std::string, std::int32_t, std::string> cases[] {
        { "ERROR: Device is UNAUTHORIZED", 1, "Your phone is waiting for permission." },
        { "java.lang.SecurityException: Injecting input events requires INJECT_EVENTS", 1,
            "The phone blocked mouse/keyboard control." },
        { "ERROR: COULD NOT FIND ANY ADB DEVICE", 1, "Phone not found." },
        { "adb: device offline", 2, "Phone not found." },
        { "INFO: something odd", 2, "The connection to your phone was lost." },
        { "INFO: something odd", 1, "Mirroring stopped unexpectedly." },
    };
    for (const auto& [output, exitCode, title] : cases) {
        const FriendlyError error = FriendlyError::fromScrcpy(exitCode, output);
        EXPECT_EQ(error.title, title) << output;
        EXPECT_EQ(error.details, output);
    }
}

TEST(AppStateMirroringTest, MirrorsWithEachScrcpyReleaseAndSaysWhatAnOldOneCannotDo)
{
    const std::string tuning = "bitrate-mode:int=2,priority:int=0,latency:int=1",
                      encoder = "c2.qti.avc.encoder";
    const Args current = mirrorArgs("R58N",
        { "--video-codec=h264", "--max-size=800", "--video-bit-rate=4M", "--max-fps=60",
            "--video-codec-options=" + tuning, "--video-encoder=" + encoder, "--keyboard=uhid" });
    Args withoutTitle = current;
    std::erase(withoutTitle, "--no-terminal-title");
    const struct {
        std::string release;
        Args expected;
        std::string line;
    } cases[] {
        { "4.1", current, "Mirroring: Low latency (Wi-Fi)" },
        { "3.3.4", withoutTitle, "Mirroring: Low latency (Wi-Fi)" },
        { "2.4", withoutTitle, "Mirroring: Low latency (Wi-Fi)" },
        { "1.25",
            { "-s", "R58N", "--window-title=Tessaly", "--force-adb-forward", "--max-size=800",
                "--bit-rate=4M", "--max-fps=60", "--codec-options=" + tuning, "--hid-keyboard" },
            "Mirroring: Low latency (Wi-Fi) – Audio needs scrcpy 2.0 or later (you have 1.25)" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.release);
        MirrorRig rig;
        rig.scrcpy.playScrcpy(c.release);
        const Args encoderQuery { "-s", "R58N", "--list-encoders" };
        rig.scrcpy.on(
            encoderQuery, { .out = "    --video-codec=h264 --video-encoder=" + encoder + " (hw)\n" });
        rig.scrcpy.onPrefix(kSessionOfR58N, { .delay = 0.3 });
        AppState& state = rig.make();
        state.setPreset(QualityPreset::lowLatency);
        for (const auto setter : { &AppState::setRealKeyboard, &AppState::setAudio, &AppState::setStayAwake })
            (state.*setter)(setter != &AppState::setStayAwake);
        for (int run = 0; run < 2; ++run) {
            rig.mirror();
            EXPECT_EQ(state.mirroringLine(), c.line);
            rig.waitForEnd();
        }
        EXPECT_EQ(sessions(rig.scrcpy), std::vector<Args>(2, c.expected));
        const auto calls = rig.scrcpy.calls();
        EXPECT_EQ(std::count(calls.begin(), calls.end(), Args { "--help" }), 1);
        EXPECT_EQ(std::count(calls.begin(), calls.end(), encoderQuery), c.release == "1.25" ? 0 : 1);
        EXPECT_TRUE(rig.presenter->errors.empty());
    }
}

TEST(AppStateMirroringTest, ARefusedOptionOrATooOldScrcpyIsExplainedWithoutARetry)
{
    const std::string ancient
        = "scrcpy 1.10 <https://github.com/Genymobile/scrcpy>\n    -b, --bit-rate=value\n"
          "    -m, --max-size=value\n    -w, --stay-awake\n";
    const struct {
        std::string help; // what the scrcpy 2.4 stand-in answers to --help
        std::string title;
        std::size_t sessions;
    } cases[] {
        { "", "scrcpy 2.4 doesn’t accept the option “--no-terminal-title”.", 1 },
        { test::scrcpyHelp("1.25"), "scrcpy 2.4 doesn’t accept the option “--bit-rate”.", 1 },
        { ancient, "scrcpy 1.10 is too old to mirror with Tessaly.", 0 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.title);
        MirrorRig rig;
        rig.scrcpy.playScrcpy("2.4");
        rig.scrcpy.on({ "--help" }, { .out = c.help });
        rig.make().setPreset(QualityPreset::lowLatency);
        rig.mirror();
        rig.waitForEnd();
        EXPECT_EQ(sessions(rig.scrcpy).size(), c.sessions);
        ASSERT_EQ(rig.presenter->errors.size(), 1u);
        const FriendlyError& error = rig.presenter->errors[0];
        EXPECT_EQ(error.title, c.title);
        EXPECT_NE(error.advice.find("sudo snap install scrcpy"), std::string::npos);
        EXPECT_NE(error.details.find(c.sessions ? "scrcpy 2.4 <" : "--max-fps, --turn-screen-off"),
            std::string::npos);
    }
}

// Disconnect Wireless takes the network link away: a session over it ends, quietly, while a
// session over the cable goes on.
TEST(AppStateMirroringTest, DisconnectWirelessEndsAWiFiSessionOnly)
{
    for (const auto& [phone, serial, overWiFi] :
        { std::tuple { "R58N device usb:1-1 model:Pixel_7", "R58N", false },
            std::tuple { "192.168.1.40:5555 device model:Pixel_7", "192.168.1.40:5555", true } }) {
        SCOPED_TRACE(serial);
        MirrorRig rig({ phone });
        rig.scrcpy.onPrefix({ "-s", serial, "--window-title=Tessaly" }, { .delay = 30 });
        rig.make();
        rig.mirror();
        ASSERT_TRUE(rig.state->isMirroring());
        rig.state->disconnectWireless();
        ASSERT_TRUE(test::waitUntilIdle(*rig.state));
        EXPECT_EQ(test::waitFor([&] { return !rig.state->isMirroring(); }, 500), overWiFi);
        EXPECT_EQ(rig.state->scrcpy().isRunning(), !overWiFi);
        EXPECT_TRUE(rig.presenter->errors.empty());
        rig.state->stopMirroring();
        rig.waitForEnd();
    }
}

TEST(AppStateMirroringTest, ASessionStoppedByTheUserOrByQuitEndsSilently)
{
    for (const bool quit : { false, true }) {
        MirrorRig rig;
        rig.scrcpy.onPrefix(kSessionOfR58N, { .out = "INFO: Device not found", .delay = 30 });
        rig.make().setAutoDisableWirelessOnQuit(false);
        rig.mirror();
        ASSERT_TRUE(rig.state->isMirroring());
        const auto calls = rig.adb.calls().size();
        rig.state->mirror(); // refused while mirroring
        EXPECT_FALSE(rig.state->hasRunningTasks());
        EXPECT_EQ(rig.adb.calls().size(), calls);
        if (quit) {
            rig.state->cleanupForQuit();
            EXPECT_FALSE(rig.state->scrcpy().isRunning());
        } else {
            rig.state->stopMirroring();
        }
        rig.waitForEnd();
        EXPECT_TRUE(rig.presenter->errors.empty());
    }
}

} // namespace
} // namespace tessaly
