// Decoder throughput on a record file: opens it as the document does (1 MB steps through the capture
// store) a few times over and prints packets and megabytes per second, without listing anything.
//
//   decode_file [--tolerant] FILE.qxc [REPEATS]   (default 5)
//
// --tolerant: packets the bit recovery rules reject get the tolerant second chance.
#include "QXDoc.h"
#include "RecordFile.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const bool tolerant = argc > 1 && std::string(argv[1]) == "--tolerant";
    if (tolerant) {
        --argc;
        ++argv;
    }
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: decode_file [--tolerant] FILE.qxc [REPEATS]\n");
        return 2;
    }
    const std::string path = argv[1];
    const int repeats = argc == 3 ? std::atoi(argv[2]) : 5;
    if (repeats < 1 || repeats > 1000) {
        std::fprintf(stderr, "decode_file: REPEATS must lie in 1..1000\n");
        return 2;
    }
    rec::RecordFileHead head;
    std::string reason;
    if (!rec::CheckRecordFile(path, &head, &reason)) {
        std::fprintf(stderr, "decode_file: %s: %s\n", path.c_str(), reason.c_str());
        return 1;
    }

    std::vector<double> seconds;
    size_t packets = 0, samples = 0, good = 0;
    int64_t decoded = 0;
    for (int i = 0; i < repeats; ++i) {
        CQXDoc doc;
        doc.store.tolerantBits = tolerant;
        const auto t0 = std::chrono::steady_clock::now();
        if (!doc.OpenDocument(path)) {
            std::fprintf(stderr, "decode_file: %s: cannot be opened\n", path.c_str());
            return 1;
        }
        const auto t1 = std::chrono::steady_clock::now();
        seconds.push_back(std::chrono::duration<double>(t1 - t0).count());
        packets = doc.store.PacketCount();
        samples = doc.store.SampleCount();
        decoded = doc.store.decodePosition;
        good = 0;
        for (size_t k = 0; k < packets; ++k) good += doc.store.PacketAt(k)->crcGood;
    }
    std::sort(seconds.begin(), seconds.end());
    const double best = seconds.front();
    const double median = seconds[seconds.size() / 2];
    const double mb = double(head.size) / 1e6;
    std::printf("File\t%s\n", path.c_str());
    std::printf("Size\t%.1f MB, %lld bytes decoded\n", mb, static_cast<long long>(decoded));
    std::printf("Bit recovery\t%s\n", tolerant ? "tolerant" : "standard");
    std::printf("Decoded\t%zu packets (%zu CRC-good), %zu samples\n", packets, good, samples);
    std::printf("Runs\t%d, best %.3f s, median %.3f s\n", repeats, best, median);
    std::printf("Best\t%.0f packets/s, %.1f MB/s\n", double(packets) / best, mb / best);
    std::printf("Median\t%.0f packets/s, %.1f MB/s\n", double(packets) / median, mb / median);
    return 0;
}
