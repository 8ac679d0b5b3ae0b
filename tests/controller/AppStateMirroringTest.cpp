#include <unistd.h>

#include <QEventLoop>
#include <QTimer>

#include <gtest/gtest.h>

#include "support/ControllerFakes.h"

namespace tessaly {
namespace {

using test::ControllerRig;
using test::deviceList;
using test::StandInTool;
using Args = std::vector<std::string>;

const Args kDevices { "devices", "-l" };
const Args kFirstArgs { "--window-title=Tessaly", "--no-terminal-title", "--force-adb-forward" };

Args mirrorArgs(const std::string& serial, std::initializer_list<std::string> rest)
{
    Args args { "-s", serial };
    args.insert(args.end(), kFirstArgs.begin(), kFirstArgs.end());
    args.insert(args.end(), rest);
    return args;
}

// The calls of a stand-in that were mirroring starts (not encoder queries or versions).
std::vector<Args> sessions(const StandInTool& scrcpy)
{
    std::vector<Args> found;
    for (const Args& call : scrcpy.calls())
        if (call.size() > 2 && call[2] == "--window-title=Tessaly")
            found.push_back(call);
    return found;
}

// Stand-in scrcpy: every mirroring start answers with `session`.
void scriptSessions(StandInTool& scrcpy, const std::string& serial, const StandInTool::Answer& session)
{
    scrcpy.onPrefix({ "-s", serial, "--window-title=Tessaly" }, session);
}

struct MirrorRig : ControllerRig {
    std::unique_ptr<AppState> state;

    explicit MirrorRig(std::vector<std::string> phones = { "R58N device usb:1-1 model:Pixel_7" })
    {
        adb.on(kDevices, deviceList(phones));
        // Ends at once unless a test scripts a longer session.
        scrcpy.otherwise({});
    }
    AppState& make()
    {
        state = ControllerRig::make();
        return *state;
    }
    // Starts mirroring and waits until the start sequence has finished.
    void mirror()
    {
        state->mirror();
        ASSERT_TRUE(test::waitUntilIdle(*state, 10000));
    }
    // Waits until the running session has ended and the controller has settled.
    void waitForEnd()
    {
        ASSERT_TRUE(test::waitFor([&] { return !state->isMirroring(); }, 10000));
        ASSERT_TRUE(test::waitUntilIdle(*state, 10000));
    }
};

TEST(AppStateMirroringTest, MissingToolsAreReportedBeforeAnythingRuns)
{
    MirrorRig rig;
    rig.withScrcpy = false;
    rig.make().mirror();
    ASSERT_TRUE(test::waitUntilIdle(*rig.state));
    ASSERT_EQ(rig.presenter->errors.size(), 1u);
    EXPECT_EQ(rig.presenter->errors[0].title, "scrcpy or adb is missing.");
    EXPECT_EQ(rig.presenter->errors[0].advice,
        "Tessaly only runs these tools from trusted system folders.\nInstall them with:\n  sudo apt install "
        "adb scrcpy");
    EXPECT_TRUE(rig.adb.calls().empty());
}

TEST(AppStateMirroringTest, LaunchArgumentsFollowPresetOptionsAndLink)
{
    struct Case {
        const char* name;
        std::string phone;
        QualityPreset preset;
        std::function<void(AppState&)> options;
        std::string encoders;
        Args expected;
    };
    const std::string encoderList
        = "[server] INFO: List of video encoders:\n"
          "    --video-codec=h264 --video-encoder=c2.qti.avc.encoder (hw) [vendor]\n";
    const std::vector<Case> cases {
        { "auto over usb", "R58N device usb:1 model:Pixel_7", QualityPreset::automatic, [](AppState&) {},
            encoderList, mirrorArgs("R58N", { "--max-fps=60", "--stay-awake", "--no-audio" }) },
        { "best with everything on", "R58N device usb:1 model:Pixel_7", QualityPreset::best,
            [](AppState& s) {
                s.setPocketMode(true);
                s.setRealKeyboard(true);
                s.setAudio(true);
                s.setShowFPS(true);
            },
            encoderList,
            mirrorArgs("R58N",
                { "--max-fps=60", "--turn-screen-off", "--keep-active", "--power-off-on-close",
                    "--stay-awake", "--keyboard=uhid", "--print-fps" }) },
        { "low latency over wifi with encoder", "192.168.1.40:5555 device model:Pixel_7",
            QualityPreset::lowLatency, [](AppState&) {}, encoderList,
            mirrorArgs("192.168.1.40:5555",
                { "--video-codec=h264", "--max-size=800", "--video-bit-rate=4M", "--max-fps=60",
                    "--video-codec-options=bitrate-mode:int=2,priority:int=0,latency:int=1",
                    "--video-encoder=c2.qti.avc.encoder", "--stay-awake", "--no-audio",
                    "--no-mouse-hover" }) },
        { "smooth without a hardware encoder", "R58N device usb:1", QualityPreset::smooth,
            [](AppState& s) { s.setStayAwake(false); }, "",
            mirrorArgs("R58N",
                { "--max-size=1024", "--video-bit-rate=4M", "--max-fps=60",
                    "--video-codec-options=bitrate-mode:int=2", "--no-audio" }) },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MirrorRig rig({ c.phone });
        const std::string serial = c.expected[1];
        rig.scrcpy.on({ "-s", serial, "--list-encoders" }, { .out = c.encoders });
        AppState& state = rig.make();
        state.setPreset(c.preset);
        c.options(state);
        rig.mirror();
        rig.waitForEnd();
        ASSERT_EQ(sessions(rig.scrcpy).size(), 1u);
        EXPECT_EQ(sessions(rig.scrcpy)[0], c.expected);
        EXPECT_TRUE(rig.presenter->errors.empty());
    }
}

TEST(AppStateMirroringTest, SessionPublishesLabelFrameRateAndEndsWithARefresh)
{
    MirrorRig rig;
    StandInTool::Answer session;
    session.chunks
        = { { .text = "INFO: Renderer: opengl\r\n" }, { .text = "INFO: 58 fps (+3 frames skipped)\r\n" } };
    session.delay = 1.5;
    scriptSessions(rig.scrcpy, "R58N", session);
    AppState& state = rig.make();
    state.setShowFPS(true);
    state.setPocketMode(true);
    rig.mirror();
    EXPECT_TRUE(state.isMirroring());
    EXPECT_TRUE(state.mirroringInPocketMode());
    EXPECT_EQ(state.mirroredSerial(), "R58N");
    EXPECT_EQ(state.busyMessage(), std::nullopt);
    ASSERT_TRUE(test::waitFor([&] { return state.fps().has_value(); }, 5000));
    EXPECT_EQ(state.fps(), (FPSReading { 58, 3 }));
    EXPECT_EQ(state.mirroringLine(), "Mirroring: Auto → Best (USB) · 58 fps (+3 skipped)");

    const auto listsBefore = rig.adb.calls().size();
    rig.waitForEnd();
    EXPECT_FALSE(state.mirroringInPocketMode());
    EXPECT_EQ(state.mirroredSerial(), std::nullopt);
    EXPECT_EQ(state.fps(), std::nullopt);
    EXPECT_EQ(state.mirroringLine(), std::nullopt);
    EXPECT_EQ(rig.adb.calls().size(), listsBefore + 1); // the refresh after the end
    EXPECT_TRUE(rig.presenter->errors.empty());
}

TEST(AppStateMirroringTest, ReconnectsToRememberedAddressesHotspotFirst)
{
    struct Case {
        const char* name;
        bool lastWasHotspot;
        std::optional<std::string> router;
        std::optional<std::string> lastPhoneIP;
        std::vector<std::string> expectedAddresses;
    };
    const std::vector<Case> cases {
        { "hotspot then home", true, "192.168.43.1", "192.168.1.40", { "192.168.43.1", "192.168.1.40" } },
        { "same address once", true, "192.168.43.1", "192.168.43.1", { "192.168.43.1" } },
        { "public address never", false, "192.168.1.1", "8.8.8.8", {} },
        { "hotspot flag without router", true, std::nullopt, "10.0.0.5", { "10.0.0.5" } },
        { "router ignored without the flag", false, "192.168.43.1", std::nullopt, {} },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MirrorRig rig(std::vector<std::string> {});
        rig.network->routerIP = c.router;
        rig.defaults->writeBool("lastWasHotspot", c.lastWasHotspot);
        if (c.lastPhoneIP)
            rig.defaults->writeString("lastPhoneIP", *c.lastPhoneIP);
        rig.adb.otherwise({ .out = "failed to connect to the phone" });
        rig.make();
        rig.mirror();

        std::vector<Args> expected { kDevices };
        for (const std::string& address : c.expectedAddresses) {
            expected.push_back({ "connect", address + ":5555" });
            expected.push_back(kDevices);
        }
        EXPECT_EQ(rig.adb.calls(), expected);
        EXPECT_EQ(rig.clock->sleeps, std::vector<double>(c.expectedAddresses.size(), 0.5));
        ASSERT_EQ(rig.presenter->errors.size(), 1u);
        EXPECT_EQ(rig.presenter->errors[0].title, "Phone not found.");
        EXPECT_EQ(rig.presenter->errors[0].details,
            c.expectedAddresses.empty() ? "" : "failed to connect to the phone");
        EXPECT_EQ(rig.state->busyMessage(), std::nullopt);
    }
}

TEST(AppStateMirroringTest, ReconnectStopsAtTheFirstPhoneFound)
{
    MirrorRig rig(std::vector<std::string> {});
    rig.adb.onSequence(kDevices, { deviceList({}), deviceList({ "192.168.43.1:5555 device model:P" }) });
    rig.adb.on({ "connect", "192.168.43.1:5555" }, { .out = "connected to 192.168.43.1:5555" });
    rig.network->routerIP = "192.168.43.1";
    rig.defaults->writeBool("lastWasHotspot", true);
    rig.defaults->writeString("lastPhoneIP", "192.168.1.40");
    rig.defaults->writeString("preset", "best");
    rig.defaults->writeInt("settingsVersion", 2);
    rig.make();
    rig.mirror();
    rig.waitForEnd();
    EXPECT_EQ(rig.adb.calls(),
        (std::vector<Args> { kDevices, { "connect", "192.168.43.1:5555" }, kDevices, kDevices }));
    EXPECT_EQ(sessions(rig.scrcpy).size(), 1u);
}

TEST(AppStateMirroringTest, UnauthorizedPhoneGetsThePermissionError)
{
    MirrorRig rig({ "R58N unauthorized usb:1-1 transport_id:2" });
    rig.make();
    rig.mirror();
    ASSERT_EQ(rig.presenter->errors.size(), 1u);
    EXPECT_EQ(rig.presenter->errors[0].title, "Your phone is waiting for permission.");
    EXPECT_EQ(rig.presenter->errors[0].details, "");
    EXPECT_EQ(rig.state->statusText(), "Tap “Allow” on your phone");
    EXPECT_TRUE(rig.scrcpy.calls().empty());
}

TEST(AppStateMirroringTest, AutomaticPresetOverWiFiMeasuresTheLink)
{
    struct Case {
        const char* name;
        std::string pingOutput;
        std::string expectedBitRate;
        std::string expectedLabel;
    };
    std::string goodPing;
    std::string slowPing;
    for (int seq = 1; seq <= 8; ++seq) {
        goodPing += "64 bytes from 192.168.1.40: icmp_seq=" + std::to_string(seq) + " ttl=64 time=4.1 ms\n";
        slowPing += "64 bytes from 192.168.1.40: icmp_seq=" + std::to_string(seq) + " ttl=64 time=45.0 ms\n";
    }
    const std::vector<Case> cases {
        { "good link", goodPing, "--video-bit-rate=4M", "Auto → Low latency (Wi-Fi)" },
        { "poor link", slowPing, "--video-bit-rate=2M", "Auto → Low latency, 2 Mbps (weak Wi-Fi)" },
        { "no answer", "", "--video-bit-rate=2M", "Auto → Low latency, 2 Mbps (weak Wi-Fi)" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MirrorRig rig({ "192.168.1.40:5555 device model:Pixel_7" });
        rig.ping.otherwise({ .out = c.pingOutput });
        StandInTool::Answer session;
        session.delay = 1.0;
        scriptSessions(rig.scrcpy, "192.168.1.40:5555", session);
        AppState& state = rig.make();
        std::vector<std::string> busy;
        QObject::connect(&state, &AppState::busyMessageChanged, [&] {
            if (state.busyMessage())
                busy.push_back(*state.busyMessage());
        });
        std::vector<std::string> labels;
        QObject::connect(&state, &AppState::mirroringChanged, [&] {
            if (state.mirroringLabel())
                labels.push_back(*state.mirroringLabel());
        });
        rig.mirror();
        rig.waitForEnd();
        EXPECT_EQ(labels, std::vector<std::string> { c.expectedLabel });
        EXPECT_EQ(rig.ping.calls(),
            (std::vector<Args> { { "-n", "-c", "8", "-i", "0.1", "-w", "4", "192.168.1.40" } }));
        EXPECT_EQ(busy,
            (std::vector<std::string> { "Looking for your phone…", "Checking Wi-Fi quality…",
                "Checking your phone’s video encoder…" }));
        ASSERT_EQ(sessions(rig.scrcpy).size(), 1u);
        const Args args = sessions(rig.scrcpy)[0];
        EXPECT_NE(std::find(args.begin(), args.end(), c.expectedBitRate), args.end());
        EXPECT_EQ(state.quality()->rating() == ConnectionQuality::Rating::poor,
            c.expectedBitRate == "--video-bit-rate=2M");
        ASSERT_TRUE(state.quality().has_value());
    }
}

TEST(AppStateMirroringTest, EncoderIsQueriedOncePerPhoneKeyEvenWhenNoneIsFound)
{
    MirrorRig rig({ "192.168.1.40:5555 device model:Pixel_7" });
    rig.scrcpy.on({ "-s", "192.168.1.40:5555", "--list-encoders" },
        { .out = "    --video-codec=h264 (sw)", .exitCode = 1 });
    AppState& state = rig.make();
    state.setPreset(QualityPreset::lowLatency);
    rig.mirror();
    rig.waitForEnd();
    rig.mirror();
    rig.waitForEnd();
    int queries = 0;
    for (const Args& call : rig.scrcpy.calls())
        queries += call.back() == "--list-encoders";
    EXPECT_EQ(queries, 1);
    ASSERT_EQ(sessions(rig.scrcpy).size(), 2u);
    for (const Args& call : sessions(rig.scrcpy))
        for (const std::string& a : call)
            EXPECT_EQ(a.rfind("--video-encoder=", 0), std::string::npos);
}

TEST(AppStateMirroringTest, EncoderRefusalSoonAfterATunedStartRetriesOnceInBasicMode)
{
    MirrorRig rig({ "R58N device usb:1 model:Pixel_7" });
    const StandInTool::Answer refused {
        .out = "ERROR: Could not create video encoder\njava.lang.IllegalStateException", .exitCode = 1
    };
    StandInTool::Answer basic;
    basic.delay = 0.5;
    rig.scrcpy.onSequence(mirrorArgs("R58N",
                              { "--video-codec=h264", "--max-size=800", "--video-bit-rate=4M", "--max-fps=60",
                                  "--video-codec-options=bitrate-mode:int=2,priority:int=0,latency:int=1",
                                  "--stay-awake", "--no-audio" }),
        { refused });
    scriptSessions(rig.scrcpy, "R58N", basic);
    AppState& state = rig.make();
    state.setPreset(QualityPreset::lowLatency);
    rig.mirror();
    // The first session fails at once; the controller relaunches without tuning.
    ASSERT_TRUE(
        test::waitFor([&] { return sessions(rig.scrcpy).size() == 2 && state.isMirroring(); }, 10000));
    EXPECT_EQ(state.mirroringLabel(), "Low latency (Wi-Fi) – basic mode");
    EXPECT_EQ(sessions(rig.scrcpy)[1],
        mirrorArgs("R58N",
            { "--video-codec=h264", "--max-size=800", "--video-bit-rate=4M", "--max-fps=60", "--stay-awake",
                "--no-audio" }));
    rig.waitForEnd();
    EXPECT_TRUE(rig.presenter->errors.empty());

    // The phone stays in basic mode from now on, without asking for its encoder again.
    rig.mirror();
    rig.waitForEnd();
    EXPECT_EQ(sessions(rig.scrcpy).size(), 3u);
    EXPECT_EQ(sessions(rig.scrcpy)[2], sessions(rig.scrcpy)[1]);
}

TEST(AppStateMirroringTest, EncoderRefusalAfterTwentySecondsIsAnError)
{
    MirrorRig rig({ "R58N device usb:1 model:Pixel_7" });
    StandInTool::Answer refused { .out = "ERROR: Could not create video encoder", .exitCode = 1 };
    refused.delay = 0.4;
    scriptSessions(rig.scrcpy, "R58N", refused);
    AppState& state = rig.make();
    state.setPreset(QualityPreset::lowLatency);
    rig.mirror();
    ASSERT_TRUE(state.isMirroring());
    rig.clock->current += 20.0;
    rig.waitForEnd();
    EXPECT_EQ(sessions(rig.scrcpy).size(), 1u);
    ASSERT_EQ(rig.presenter->errors.size(), 1u);
    EXPECT_EQ(rig.presenter->errors[0].title, "Mirroring stopped unexpectedly.");
    EXPECT_EQ(rig.presenter->errors[0].details, "ERROR: Could not create video encoder");
    EXPECT_EQ(state.lastError(), rig.presenter->errors[0]);
}

TEST(AppStateMirroringTest, FailedSessionsAreExplained)
{
    struct Case {
        std::string output;
        std::int32_t exitCode;
        std::string title;
    };
    const std::vector<Case> cases {
        { "ERROR: Device is UNAUTHORIZED", 1, "Your phone is waiting for permission." },
        { "java.lang.SecurityException: Injecting input events requires INJECT_EVENTS", 1,
            "The phone blocked mouse/keyboard control." },
        { "ERROR: COULD NOT FIND ANY ADB DEVICE", 1, "Phone not found." },
        { "adb: device offline", 2, "Phone not found." },
        { "INFO: something odd", 2, "The connection to your phone was lost." },
        { "INFO: something odd", 1, "Mirroring stopped unexpectedly." },
        { "", 0, "" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.output);
        const FriendlyError error = FriendlyError::fromScrcpy(c.exitCode, c.output);
        if (c.exitCode != 0) {
            EXPECT_EQ(error.title, c.title);
        }
        EXPECT_EQ(error.details, c.output);
    }
    EXPECT_EQ(FriendlyError::fromScrcpy(1, "not found").advice.substr(0, 6), "Check:");

    // A session stopped by the user ends silently even with a non-zero status.
    MirrorRig rig;
    StandInTool::Answer long_;
    long_.delay = 30;
    long_.out = "INFO: Device not found";
    scriptSessions(rig.scrcpy, "R58N", long_);
    rig.make();
    rig.mirror();
    ASSERT_TRUE(rig.state->isMirroring());
    rig.state->stopMirroring();
    rig.waitForEnd();
    EXPECT_TRUE(rig.presenter->errors.empty());
}

TEST(AppStateMirroringTest, UnstartableScrcpyIsReported)
{
    MirrorRig rig;
    rig.make();
    ::unlink(rig.scrcpy.path().c_str());
    rig.mirror();
    ASSERT_EQ(rig.presenter->errors.size(), 1u);
    EXPECT_EQ(rig.presenter->errors[0].title, "Couldn't start scrcpy.");
    EXPECT_EQ(
        rig.presenter->errors[0].advice, "Try reinstalling it with: sudo apt install --reinstall scrcpy");
    EXPECT_FALSE(rig.presenter->errors[0].details.empty());
    EXPECT_FALSE(rig.state->isMirroring());
    EXPECT_EQ(rig.state->busyMessage(), std::nullopt);
}

TEST(AppStateMirroringTest, MirrorIsRefusedWhileBusyOrMirroring)
{
    MirrorRig rig;
    StandInTool::Answer session;
    session.delay = 30;
    scriptSessions(rig.scrcpy, "R58N", session);
    rig.make();
    rig.mirror();
    ASSERT_TRUE(rig.state->isMirroring());
    const auto calls = rig.adb.calls().size();
    rig.state->mirror();
    EXPECT_FALSE(rig.state->hasRunningTasks());
    EXPECT_EQ(rig.adb.calls().size(), calls);
    // Quitting stops the session and waits for it.
    rig.state->setAutoDisableWirelessOnQuit(false);
    rig.state->cleanupForQuit();
    EXPECT_FALSE(rig.state->scrcpy().isRunning());
    rig.waitForEnd();
}

} // namespace
} // namespace tessaly
