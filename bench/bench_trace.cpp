// Trace at scale: a catalogue of 10,000 originals with 20 recipients each (one real
// photograph, the rest synthetic pictures known by their fingerprints and keys only), and a
// social-media copy of one recipient's copy of the photograph. Prints the catalogue's size
// per original, the time trace spends finding the original (loading the fingerprints and
// searching them) beside the detection itself, and the peak memory.
// Run: build/bin/bench_trace [ORIGINALS] [RECIPIENTS]   (defaults 10000 20)

#include "catalogue/fingerprint.h"
#include "catalogue/original.h"
#include "catalogue/trace.h"
#include "image/image_io.h"
#include "lab/attacks.h"
#include "watermark/embed.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace pelinor {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since)
{
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

long peakKiB()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// A small picture of soft blobs: a different content for every seed.
PictureRef synthetic(unsigned seed)
{
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const int w = 96, h = 64;
    PictureRef p = Picture::create(w, h, 24, true);
    double cx[6], cy[6], r[6], v[6];
    for (int i = 0; i < 6; ++i) {
        cx[i] = u(rng) * w;
        cy[i] = u(rng) * h;
        r[i] = 8 + u(rng) * 30;
        v[i] = u(rng) * 200 - 100;
    }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double g = 128;
            for (int i = 0; i < 6; ++i)
                g += v[i]
                    * std::exp(-((x - cx[i]) * (x - cx[i]) + (y - cy[i]) * (y - cy[i])) / (r[i] * r[i]));
            std::uint8_t* q = p->bits() + p->stride() * std::size_t(y) + 3 * std::size_t(x);
            q[0] = q[1] = q[2] = std::uint8_t(std::clamp(g, 0.0, 255.0));
        }
    return p;
}

void addMarked(Catalogue& cat, OriginalRecord& record, long long recipientId, const KeySeed& seed, int length,
    double alpha, const std::string& output)
{
    KeyRecord k;
    k.originalId = record.id;
    k.recipientId = recipientId;
    k.length = length;
    k.alpha = alpha;
    k.source = "generated";
    cat.addKey(k, KeyMaterial{seed, {}});
    MarkRecord m;
    m.originalId = record.id;
    m.recipientId = recipientId;
    m.keyId = k.id;
    m.output = output;
    const long long id = cat.addMark(m);
    cat.finishMark(id, std::string(64, '0'), 42.0, 0.99);
}

int run(int originals, int recipients)
{
    const fs::path dir = fs::temp_directory_path() / ("pelinor-bench-trace-" + std::to_string(getpid()));
    fs::create_directories(dir);
    const std::string photoPath = (dir / "DSC_0412.jpg").string();
    fs::copy_file(std::string(PELINOR_SOURCE_DIR) + "/samples/photos/coffee.jpg", photoPath);
    auto cat = Catalogue::open((dir / "cat.sqlite").string(), true);

    const auto built = Clock::now();
    std::vector<long long> recipientIds;
    PictureRef copy;
    cat->transaction([&] {
        for (int r = 0; r < recipients; ++r)
            recipientIds.push_back(cat->addRecipient("Client " + std::to_string(r + 1)));
        // The real photograph, marked for every recipient; the copy of recipient 7 leaks.
        const PictureRef photo = loadPicture(photoPath);
        OriginalRecord record = describeOriginal(photoPath, *photo);
        cat->addOriginal(record);
        for (int r = 0; r < recipients; ++r) {
            const KeySeed seed{std::uint32_t(r + 1), 1, 2, 3, 4, 5, 6, 7};
            addMarked(*cat, record, recipientIds[r], seed, 1000, 0.1, photoPath + ".copy");
            if (r == 6) {
                const PictureRef marked
                    = embedWatermark(*photo, generateWatermark(seed, 1000, 0.1, 0.0, 1.0), Depths::Any)
                          .marked;
                copy
                    = attackJpeg(*attackResize(*attackTone(*attackCropTo(*marked, 0.95), 1.1, 10), 0.75), 80);
            }
        }
        // The rest: synthetic originals, their fingerprints and keys (no files behind them).
        for (int i = 1; i < originals; ++i) {
            const PictureRef p = synthetic(unsigned(i));
            OriginalRecord o;
            o.path = (dir / ("synthetic-" + std::to_string(i) + ".png")).string();
            o.sha256 = std::to_string(i);
            o.format = "PNG";
            o.width = p->width();
            o.height = p->height();
            o.fingerprint = encodeFingerprint(fingerprintOf(*p));
            cat->addOriginal(o);
            for (int r = 0; r < recipients; ++r)
                addMarked(*cat, o, recipientIds[r],
                    KeySeed{std::uint32_t(i), std::uint32_t(r), 9, 9, 9, 9, 9, 9}, 1000, 0.1,
                    o.path + ".copy");
        }
    });
    const double buildSeconds = seconds(built);
    const auto bytes = fs::file_size(dir / "cat.sqlite");
    std::printf("catalogue: %d originals x %d recipients, built in %.1f s, %.1f MB (%.0f bytes per original, "
                "%.0f per key and mark)\n",
        originals, recipients, buildSeconds, bytes / 1e6, double(bytes) / originals,
        double(bytes) / (double(originals) * recipients));

    const long before = peakKiB();
    std::vector<double> total, search, detection;
    std::string answer;
    for (int round = 0; round < 5; ++round) {
        // The original found: the fingerprints read from the catalogue and searched.
        auto t = Clock::now();
        FingerprintIndex index;
        cat->forEachFingerprint([&](long long id, const std::vector<std::uint8_t>& b) {
            Fingerprint f{};
            if (decodeFingerprint(b, f)) index.add(id, f);
        });
        const auto matches = index.search(suspectViews(*copy), 0.6f, 5);
        search.push_back(seconds(t));
        // The whole trace.
        t = Clock::now();
        const TraceResult r = traceSuspect(*cat, *copy);
        total.push_back(seconds(t));
        const auto found = r.found();
        answer = found.empty() ? "nothing found" : found.front()->recipient;
        (void)matches;
    }
    // Detection alone: the original prepared and the copy registered and tested with the
    // photograph's 20 keys.
    {
        const PictureRef photo = loadPicture(photoPath);
        std::vector<Watermark> keys;
        for (int r = 0; r < recipients; ++r)
            keys.push_back(
                generateWatermark(KeySeed{std::uint32_t(r + 1), 1, 2, 3, 4, 5, 6, 7}, 1000, 0.1, 0.0, 1.0));
        for (int round = 0; round < 5; ++round) {
            const auto t = Clock::now();
            const Reference reference(*photo, Depths::Any);
            testSuspect(reference, *copy,
                [&](const SuspectOnGrid& grid) {
                    SuspectTest test(reference, grid.analysis);
                    bool any = false;
                    for (const Watermark& k : keys)
                        any = test.detect(k, DecisionRule::byEvidence()).found || any;
                    return any;
                },
                {});
            detection.push_back(seconds(t));
        }
    }
    std::printf("trace: %s; median of 5: whole trace %.3f s, finding the original (fingerprints read and "
                "searched) %.3f s, detection alone %.3f s\n",
        answer.c_str(), median(total), median(search), median(detection));
    std::printf("peak memory: %.1f MB (%.1f MB before tracing, with the catalogue built)\n",
        peakKiB() / 1024.0, before / 1024.0);
    cat.reset();
    if (std::getenv("PELINOR_BENCH_KEEP")) {
        savePicture(*copy, (dir / "copy.png").string());
        std::printf("kept: %s (cat.sqlite, copy.png)\n", dir.c_str());
    } else {
        fs::remove_all(dir);
    }
    return answer == "Client 7" ? 0 : 1;
}

} // namespace
} // namespace pelinor

int main(int argc, char** argv)
{
    const int originals = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int recipients = argc > 2 ? std::atoi(argv[2]) : 20;
    if (originals < 1 || recipients < 7) {
        std::fprintf(stderr, "usage: bench_trace [ORIGINALS >= 1] [RECIPIENTS >= 7]\n");
        return 2;
    }
    return pelinor::run(originals, recipients);
}
