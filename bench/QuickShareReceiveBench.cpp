// Receiving a large file end to end over loopback, against the bare OpenSSL work and disk writes
// it cannot avoid; the memory the transfer adds; the time from connecting to the prompt.
//
//   QuickShareReceiveBench [MiB]   (default 1024)

#include <chrono>
#include <cstdio>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include <QCoreApplication>
#include <QTemporaryDir>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "platform/LocalFiles.h"
#include "quickshare/QuickShareReceiver.h"
#include "support/TestPhone.h"

using namespace tessaly;
using test::TestPhone;
using test::waitUntil;

namespace {

constexpr std::size_t kPiece = 512 * 1024;

double seconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

long residentKiB(const char* field = "VmRSS:")
{
    std::ifstream status("/proc/self/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == field) {
            status >> value;
            return value;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

double threadCPU()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Processor seconds used so far by the thread named `name` of this process.
double namedThreadCPU(const std::string& name)
{
    DIR* tasks = ::opendir("/proc/self/task");
    double total = 0;
    while (const dirent* entry = tasks ? ::readdir(tasks) : nullptr) {
        const std::string task = std::string("/proc/self/task/") + entry->d_name;
        std::ifstream comm(task + "/comm");
        std::string threadName;
        if (!std::getline(comm, threadName) || threadName != name)
            continue;
        std::ifstream stat(task + "/stat");
        std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        std::istringstream fields(text.substr(text.rfind(')') + 2));
        std::string field;
        double ticks = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i)
            if (i == 14 || i == 15)
                ticks += std::stod(field);
        total += ticks / double(sysconf(_SC_CLK_TCK));
    }
    if (tasks)
        ::closedir(tasks);
    return total;
}

// What any receiver must do per piece: check the MAC, decrypt, write. Returns seconds.
double opensslCeiling(std::size_t total, const std::string& path, double& cpu)
{
    const Bytes key(32, 7), iv(16, 9);
    Bytes plain(kPiece, 0x5A), cipher(kPiece + 32), out(kPiece + 32);
    int n = 0, tail = 0;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key.data(), iv.data());
    EVP_EncryptUpdate(ctx, cipher.data(), &n, plain.data(), int(plain.size()));
    EVP_EncryptFinal_ex(ctx, cipher.data() + n, &tail);
    const int cipherSize = n + tail;
    unsigned char mac[32], check[32];
    unsigned int macSize = 32;
    HMAC(EVP_sha256(), key.data(), 32, cipher.data(), std::size_t(cipherSize), mac, &macSize);

    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const double start = seconds();
    const double startCPU = threadCPU();
    for (std::size_t done = 0; done < total; done += kPiece) {
        HMAC(EVP_sha256(), key.data(), 32, cipher.data(), std::size_t(cipherSize), check, &macSize);
        if (CRYPTO_memcmp(mac, check, 32) != 0)
            std::abort();
        EVP_DecryptInit_ex(ctx, EVP_aes_256_cbc(), nullptr, key.data(), iv.data());
        EVP_DecryptUpdate(ctx, out.data(), &n, cipher.data(), cipherSize);
        EVP_DecryptFinal_ex(ctx, out.data() + n, &tail);
        if (::write(fd, out.data(), std::size_t(n + tail)) != n + tail)
            std::abort();
    }
    ::close(fd);
    const double elapsed = seconds() - start;
    cpu = threadCPU() - startCPU;
    EVP_CIPHER_CTX_free(ctx);
    ::unlink(path.c_str());
    return elapsed;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::size_t mib = argc > 1 ? std::stoul(argv[1]) : 1024;
    const std::size_t total = mib * 1024 * 1024;
    QTemporaryDir dir;

    std::optional<IncomingShare> asked;
    std::optional<ShareResult> result;
    QuickShareReceiver receiver({ nullptr, steadyQuickShareClock(), &LocalFiles::availableCapacity, 5000 });
    receiver.onRequest = [&](const IncomingShare& share) {
        asked = share;
        receiver.answer(share.id, true);
    };
    receiver.onFinished = [&](const QUuid&, const ShareResult& r) { result = r; };
    receiver.start({ "bench", dir.path().toStdString(), false, 0 });
    waitUntil([&] { return receiver.port() != 0; });

    // Time to the prompt: connect, handshake, introduction.
    std::vector<double> toAsk;
    for (int run = 0; run < 15; ++run) {
        asked.reset();
        result.reset();
        const double start = seconds();
        TestPhone phone(receiver.port());
        phone.handshake();
        phone.sendSharing(SharingFrame { SharingFrame::Introduction { {}, { { "t", {}, 1, 1 } }, false } });
        waitUntil([&] { return asked.has_value(); });
        toAsk.push_back((seconds() - start) * 1000);
    }
    std::sort(toAsk.begin(), toAsk.end());

    // Six phones that never get an answer push sixteen 5 MiB byte payloads each, in 1 MiB pieces.
    const long floodBefore = residentKiB();
    long floodPeak = floodBefore;
    {
        std::vector<std::unique_ptr<TestPhone>> flooders;
        for (int i = 0; i < 6; ++i) {
            const QHostAddress from(QStringLiteral("127.0.0.%1").arg(2 + i / 2));
            flooders.push_back(std::make_unique<TestPhone>(receiver.port(), from));
            flooders.back()->handshake();
        }
        using Piece = OfflineFrame::PayloadPiece;
        const Bytes piece(1 << 20, 0x5A);
        for (std::int64_t payload = 0; payload < 16; ++payload)
            for (const auto& flooder : flooders)
                for (std::int64_t offset = 0; offset < (5 << 20) && flooder->isOpen(); offset += 1 << 20) {
                    flooder->sendSecure(OfflineFrame {
                        Piece { payload, Piece::Kind::bytes, 5 << 20, offset, false, piece } });
                    flooder->drain(0);
                    floodPeak = std::max(floodPeak, residentKiB());
                }
        for (const auto& flooder : flooders)
            flooder->waitClosed();
    }
    waitUntil([&] { return receiver.buffers().used() == 0; });
    waitUntil([] { return false; }, 0.2);
    const long floodAfter = residentKiB();

    // Dirty pages left by one writer slow down the next: each run starts with them flushed, and
    // the ceiling is measured before and after the transfer.
    double ceilingCPU = 0, laterCPU = 0;
    ::sync();
    double ceiling = opensslCeiling(total, dir.filePath("ceiling").toStdString(), ceilingCPU);
    ::sync();

    TestPhone phone(receiver.port());
    phone.handshake();
    asked.reset();
    result.reset();
    phone.sendSharing(SharingFrame {
        SharingFrame::Introduction { { { "big.bin", 1, std::int64_t(total), "" } }, {}, false } });
    phone.readSharing();
    const long before = residentKiB();
    long at100 = 0, peak = before;
    using Piece = OfflineFrame::PayloadPiece;
    Bytes body(kPiece, 0x5A);
    const double start = seconds();
    const double receiverStartCPU = namedThreadCPU("tessaly.quicksh"), phoneStartCPU = threadCPU();
    for (std::size_t offset = 0; offset < total; offset += kPiece) {
        phone.sendSecure(OfflineFrame { Piece { 1, Piece::Kind::file, std::int64_t(total),
            std::int64_t(offset), offset + kPiece >= total, body } });
        phone.drain(4 * kPiece);
        if (offset % (16 * kPiece) == 0)
            peak = std::max(peak, residentKiB());
        if (!at100 && offset >= 100u * 1024 * 1024)
            at100 = residentKiB();
    }
    waitUntil([&] { return result.has_value(); }, 120);
    const double received = seconds() - start;
    const double receiverCPU = namedThreadCPU("tessaly.quicksh") - receiverStartCPU;
    const double phoneCPU = threadCPU() - phoneStartCPU;
    ::sync();
    ceiling = (ceiling + opensslCeiling(total, dir.filePath("ceiling").toStdString(), laterCPU)) / 2;
    ceilingCPU = (ceilingCPU + laterCPU) / 2;
    const long after = residentKiB();

    const double mibs = double(total) / (1024 * 1024);
    std::printf(
        "connect to ask: median %.1f ms, worst %.1f ms (15 runs)\n", toAsk[toAsk.size() / 2], toAsk.back());
    std::printf("OpenSSL ceiling (MAC check + decrypt + write): %.0f MiB/s\n", mibs / ceiling);
    std::printf("received over loopback: %.0f MiB/s = %.2f of the ceiling (%s)\n", mibs / received,
        ceiling / received, result && result->kind == ShareResult::Kind::saved ? "saved" : "NOT saved");
    std::printf("processor time: ceiling %.2f s, receiver thread %.2f s = %.2f of the ceiling's speed; "
                "test phone %.2f s of %.2f s\n",
        ceilingCPU, receiverCPU, ceilingCPU / receiverCPU, phoneCPU, received);
    std::printf("resident memory growth: %.1f MiB at 100 MiB, %.1f MiB at the end, peak %.1f MiB\n",
        (at100 - before) / 1024.0, (after - before) / 1024.0, (peak - before) / 1024.0);
    std::printf("six unanswered phones, 16 x 5 MiB each: resident %.1f MiB before, peak %.1f MiB, %.1f MiB "
                "after; receiver's buffers peaked at %.1f MiB\n",
        floodBefore / 1024.0, floodPeak / 1024.0, floodAfter / 1024.0,
        double(receiver.buffers().peak()) / (1024 * 1024));
    return result && result->kind == ShareResult::Kind::saved ? 0 : 1;
}
