// Native benchmark of the Bayer renderer, side by side in one run with
// OpenCV's single-threaded Bayer conversions and a memcpy of the 24-bit
// output; prints the ratios at the end. Never part of the test run.
#include <benchmark/benchmark.h>

#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "camera_api/render/bayer8_render.h"
#include "camera_api/render/converters.h"

namespace {

struct Size {
    int width, height;
};
const Size kSizes[] = {{648, 488}, {1288, 968}, {2600, 1952}};
const char* kAlgorithms[] = {"mosaic", "nearest", "bilinear", "smooth", "edge", "mono"};
const char* kFormats[] = {"bgra32", "bgr24", "grey8"};

// A smooth scene with noise, so that histograms and gradients look like a camera's.
std::vector<uint8_t> MakeRaw(Size s) {
    std::vector<uint8_t> raw(size_t(s.width) * s.height);
    std::mt19937 rng(7);
    for (int r = 0; r < s.height; ++r)
        for (int c = 0; c < s.width; ++c)
            raw[size_t(r) * s.width + c] = uint8_t((c * 255 / s.width + r * 128 / s.height) / 2 + rng() % 64);
    return raw;
}

void BM_Render(benchmark::State& state, Size s, int algorithm, int format, orvo::render::SimdLevel level) {
    std::vector<uint8_t> raw = MakeRaw(s);
    std::vector<uint8_t> out(orvo::render::OutputStride(format, s.width - 8) * (s.height - 8));
    orvo::CBayer8Render renderer;
    renderer.SetOutputFormat(format);
    renderer.SetAlgorithm(algorithm);
    renderer.UpdateConverter();
    // The class picks the best level; a forced level goes through the table directly.
    const orvo::render::Converter convert = orvo::render::SelectConverter(format, algorithm, false, false, level);
    orvo::render::RenderStats stats;
    std::unique_ptr<orvo::render::PairCounts> pairs(new orvo::render::PairCounts());
    for (auto _ : state) {
        if (level == orvo::render::BestSimdLevel()) {
            renderer.Render(out.data(), raw.data(), s.width, s.height);
        } else {
            std::memset(&stats, 0, sizeof stats);
            convert(out.data(), raw.data(), s.width, s.height, &stats, pairs.get());
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}

void BM_OpenCv(benchmark::State& state, Size s, int code) {
    std::vector<uint8_t> raw = MakeRaw(s);
    cv::Mat src(s.height, s.width, CV_8UC1, raw.data());
    cv::Mat dst(s.height, s.width, CV_8UC3);
    for (auto _ : state) {
        cv::cvtColor(src, dst, code);
        benchmark::DoNotOptimize(dst.data);
        benchmark::ClobberMemory();
    }
}

void BM_Memcpy(benchmark::State& state, Size s) {
    const size_t bytes = orvo::render::OutputStride(1, s.width - 8) * (s.height - 8);
    std::vector<uint8_t> a(bytes, 1), b(bytes);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), bytes);
        benchmark::DoNotOptimize(b.data());
        benchmark::ClobberMemory();
    }
}

std::string SizeName(Size s) { return std::to_string(s.width) + "x" + std::to_string(s.height); }

// Keeps every run's time per iteration for the ratio table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> seconds;
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration || r.aggregate_name == "median")
                seconds[r.run_name.function_name] = r.GetAdjustedCPUTime() * 1e-9;  // default unit ns
        ConsoleReporter::ReportRuns(runs);
    }
};

}  // namespace

int main(int argc, char** argv) {
    cv::setNumThreads(1);
    using orvo::render::SimdLevel;
    const std::pair<SimdLevel, const char*> levels[] = {
        {SimdLevel::kScalar, "scalar"}, {SimdLevel::kSse2, "sse2"}, {SimdLevel::kAvx2, "avx2"}};
    for (Size s : kSizes) {
        const std::string size = SizeName(s);
        benchmark::RegisterBenchmark(("opencv_bilinear/" + size).c_str(), BM_OpenCv, s, cv::COLOR_BayerBG2BGR);
        benchmark::RegisterBenchmark(("opencv_edge_aware/" + size).c_str(), BM_OpenCv, s, cv::COLOR_BayerBG2BGR_EA);
        benchmark::RegisterBenchmark(("memcpy_bgr24/" + size).c_str(), BM_Memcpy, s);
        for (int a = 0; a < 6; ++a)
            for (int f = 0; f < 3; ++f)
                for (const auto& level : levels) {
                    if (!orvo::render::SimdLevelSupported(level.first)) continue;
                    const bool best = level.first == orvo::render::BestSimdLevel();
                    // Other levels only for bilinear 24-bit, to show what the SIMD paths buy.
                    if (!best && !(a == 2 && f == 1)) continue;
                    benchmark::RegisterBenchmark(
                        (std::string(kAlgorithms[a]) + "_" + kFormats[f] + "_" + level.second + "/" + size).c_str(),
                        BM_Render, s, a, f, level.first);
                }
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);

    // The target: our bilinear 24-bit at most OpenCV's bilinear; every other
    // routine within twice our bilinear 24-bit.
    const std::string best = std::string("bilinear_bgr24_") +
                             (orvo::render::BestSimdLevel() == SimdLevel::kAvx2 ? "avx2" : "sse2");
    std::printf("\nMedian CPU time per frame; ratio to OpenCV's single-threaded bilinear cvtColor; ratio to %s\n",
                best.c_str());
    std::printf("%-24s", "");
    for (Size s : kSizes) std::printf("%24s", SizeName(s).c_str());
    std::printf("\n");
    std::vector<std::string> rows = {"opencv_bilinear", "opencv_edge_aware", "memcpy_bgr24"};
    for (auto& [name, t] : reporter.seconds) {
        const std::string base = name.substr(0, name.find('/'));
        bool known = false;
        for (auto& r : rows) known |= r == base;
        if (!known) rows.push_back(base);
    }
    for (const std::string& row : rows) {
        std::printf("%-24s", row.c_str());
        for (Size s : kSizes) {
            const std::string size = "/" + SizeName(s);
            auto it = reporter.seconds.find(row + size);
            auto cv = reporter.seconds.find("opencv_bilinear" + size);
            auto ours = reporter.seconds.find(best + size);
            if (it == reporter.seconds.end() || cv == reporter.seconds.end() || ours == reporter.seconds.end()) {
                std::printf("%24s", "-");
            } else {
                std::printf("%9.3f ms %5.2f %5.2f", it->second * 1e3, it->second / cv->second,
                            it->second / ours->second);
            }
        }
        std::printf("\n");
    }
    return 0;
}
